// The floor for the end-to-end benchmark: ONNX Runtime alone, with the same
// session options as glintbox (two intra-op threads, nothing else).
//   bare_runtime serve MODEL W H FRAME_FILE   one frame packed once; then for each count N
//                                             read from stdin, N timed Runs
//   bare_runtime startup MODEL                session creation and release only
// A last argument "no-spin" also turns off the thread pool's spinning (an
// experiment; glintbox sets only the thread count).
// Answers with lines of key=value figures (milliseconds unless named _us).
#include <onnxruntime_c_api.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "frame/pack.h"

namespace {

const OrtApi* ort = nullptr;

void check(OrtStatus* status, const char* step) {
  if (status == nullptr) return;
  std::fprintf(stderr, "bare_runtime: %s failed: %s\n", step, ort->GetErrorMessage(status));
  std::exit(2);
}

double ms_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

int64_t round_up_32(int64_t v) { return (v + 31) / 32 * 32; }

struct Session {
  OrtEnv* env = nullptr;
  OrtSession* session = nullptr;
};

// Set by a trailing "no-spin" argument: an experiment, not glintbox's options.
bool g_no_spin = false;

Session create_session(const char* model) {
  Session s;
  check(ort->CreateEnv(ORT_LOGGING_LEVEL_ERROR, "bare", &s.env), "CreateEnv");
  OrtSessionOptions* options = nullptr;
  check(ort->CreateSessionOptions(&options), "CreateSessionOptions");
  check(ort->SetIntraOpNumThreads(options, 2), "SetIntraOpNumThreads");
  if (g_no_spin) {
    check(ort->AddSessionConfigEntry(options, "session.intra_op.allow_spinning", "0"),
          "AddSessionConfigEntry");
  }
  check(ort->CreateSession(s.env, model, options, &s.session), "CreateSession");
  ort->ReleaseSessionOptions(options);
  return s;
}

int serve_mode(const char* model, int width, int height, const char* frame_file) {
  const size_t frame_bytes = static_cast<size_t>(width) * height * 3;
  std::vector<uint8_t> frame(frame_bytes);
  FILE* f = std::fopen(frame_file, "rb");
  if (f == nullptr || std::fread(frame.data(), 1, frame_bytes, f) != frame_bytes) {
    std::fprintf(stderr, "bare_runtime: cannot read one frame from %s\n", frame_file);
    return 1;
  }
  std::fclose(f);

  const auto start = std::chrono::steady_clock::now();
  Session s = create_session(model);
  const double create_ms = ms_since(start);

  // Input size as glintbox resolves it for a model with free height and width.
  const int64_t ih = round_up_32(height);
  const int64_t iw = round_up_32(width);
  std::vector<float> tensor(3 * static_cast<size_t>(ih * iw));
  pack_frame(frame.data(), width, height, tensor.data(), iw, ih);

  OrtMemoryInfo* memory = nullptr;
  check(ort->CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &memory), "memory info");
  const int64_t shape[4] = {1, 3, ih, iw};
  OrtValue* input = nullptr;
  check(ort->CreateTensorWithDataAsOrtValue(memory, tensor.data(), tensor.size() * sizeof(float),
                                            shape, 4, ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, &input),
        "input tensor");
  const char* input_names[1] = {"input"};
  const char* output_names[9] = {"cls_8",  "cls_16", "cls_32",  "obj_8",  "obj_16",
                                 "obj_32", "bbox_8", "bbox_16", "bbox_32"};
  const OrtValue* inputs[1] = {input};
  std::printf("ready create_ms=%.3f\n", create_ms);
  std::fflush(stdout);

  // Each request line is a run count; the answer is one line of figures.
  std::vector<double> times;
  std::vector<double> checks;  // glintbox's type and size check of the nine outputs
  int runs = 0;
  while (std::scanf("%d", &runs) == 1 && runs > 0) {
    times.clear();
    checks.clear();
    const auto burst = std::chrono::steady_clock::now();
    for (int k = 0; k < runs; ++k) {
      OrtValue* outputs[9] = {};
      const auto t0 = std::chrono::steady_clock::now();
      check(ort->Run(s.session, nullptr, input_names, inputs, 1, output_names, 9, outputs), "Run");
      times.push_back(ms_since(t0));
      const auto c0 = std::chrono::steady_clock::now();
      size_t total = 0;
      for (OrtValue* v : outputs) {
        OrtTensorTypeAndShapeInfo* info = nullptr;
        ONNXTensorElementDataType type = ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED;
        size_t count = 0;
        check(ort->GetTensorTypeAndShape(v, &info), "GetTensorTypeAndShape");
        check(ort->GetTensorElementType(info, &type), "GetTensorElementType");
        check(ort->GetTensorShapeElementCount(info, &count), "GetTensorShapeElementCount");
        ort->ReleaseTensorTypeAndShapeInfo(info);
        total += type == ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT ? count : 0;
      }
      checks.push_back(ms_since(c0) * 1000);
      if (total == 0) std::exit(2);
      for (OrtValue* v : outputs) ort->ReleaseValue(v);
    }
    const double burst_ms = ms_since(burst);
    std::sort(times.begin(), times.end());
    std::sort(checks.begin(), checks.end());
    std::printf("burst_ms=%.4f run_median_ms=%.4f check_us=%.3f\n", burst_ms,
                times[times.size() / 2], checks[checks.size() / 2]);
    std::fflush(stdout);
  }

  ort->ReleaseValue(input);
  ort->ReleaseMemoryInfo(memory);
  ort->ReleaseSession(s.session);
  ort->ReleaseEnv(s.env);
  return 0;
}

int startup_mode(const char* model) {
  const auto start = std::chrono::steady_clock::now();
  Session s = create_session(model);
  const double create_ms = ms_since(start);
  ort->ReleaseSession(s.session);
  ort->ReleaseEnv(s.env);
  std::printf("create_ms=%.3f\n", create_ms);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::string_view(argv[argc - 1]) == "no-spin") {
    g_no_spin = true;
    --argc;
  }
  // The library's version; the headers are newer.
  ort = OrtGetApiBase()->GetApi(23);
  if (ort == nullptr) return 2;
  if (argc == 6 && std::string_view(argv[1]) == "serve") {
    return serve_mode(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);
  }
  if (argc == 3 && std::string_view(argv[1]) == "startup") return startup_mode(argv[2]);
  std::fprintf(stderr,
               "usage: bare_runtime serve MODEL W H FRAME_FILE | bare_runtime startup MODEL\n");
  return 1;
}
