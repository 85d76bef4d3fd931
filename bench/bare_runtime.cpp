// The floor for the end-to-end benchmark: ONNX Runtime alone, with the same
// session options as glintbox (two intra-op threads, nothing else).
//   bare_runtime run MODEL W H FRAME_FILE RUNS   one frame packed once, then RUNS timed Runs
//   bare_runtime startup MODEL                   session creation and release only
// Prints one line of key=value figures (milliseconds) on standard output.
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

Session create_session(const char* model) {
  Session s;
  check(ort->CreateEnv(ORT_LOGGING_LEVEL_ERROR, "bare", &s.env), "CreateEnv");
  OrtSessionOptions* options = nullptr;
  check(ort->CreateSessionOptions(&options), "CreateSessionOptions");
  check(ort->SetIntraOpNumThreads(options, 2), "SetIntraOpNumThreads");
  check(ort->CreateSession(s.env, model, options, &s.session), "CreateSession");
  ort->ReleaseSessionOptions(options);
  return s;
}

int run_mode(const char* model, int width, int height, const char* frame_file, int runs) {
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

  std::vector<double> times;
  std::vector<double> checks;  // glintbox's per-output type and size check, all nine
  times.reserve(static_cast<size_t>(runs));
  checks.reserve(static_cast<size_t>(runs));
  double first_ms = 0;
  for (int k = 0; k < runs; ++k) {
    OrtValue* outputs[9] = {};
    const auto t0 = std::chrono::steady_clock::now();
    check(ort->Run(s.session, nullptr, input_names, inputs, 1, output_names, 9, outputs), "Run");
    const double t = ms_since(t0);
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
    if (k == 0) first_ms = t;
    times.push_back(t);
  }
  // The first tenth (at least one run) is warm-up.
  const size_t warm = std::max<size_t>(1, times.size() / 10);
  std::vector<double> steady(times.begin() + static_cast<long>(warm), times.end());
  std::sort(steady.begin(), steady.end());
  double sum = 0;
  for (double t : steady) sum += t;
  std::sort(checks.begin(), checks.end());
  std::printf(
      "create_ms=%.3f first_run_ms=%.3f run_median_ms=%.4f run_mean_ms=%.4f runs=%zu "
      "check_us=%.3f\n",
      create_ms, first_ms, steady[steady.size() / 2], sum / steady.size(), steady.size(),
      checks[checks.size() / 2]);

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
  // The library's version; the headers are newer.
  ort = OrtGetApiBase()->GetApi(23);
  if (ort == nullptr) return 2;
  if (argc == 7 && std::string_view(argv[1]) == "run") {
    return run_mode(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argv[5], std::atoi(argv[6]));
  }
  if (argc == 3 && std::string_view(argv[1]) == "startup") return startup_mode(argv[2]);
  std::fprintf(stderr,
               "usage: bare_runtime run MODEL W H FRAME_FILE RUNS | bare_runtime startup MODEL\n");
  return 1;
}
