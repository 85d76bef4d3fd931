#include "runtime/runtime.h"

#include "diag/diag.h"
#include "platform/platform.h"

const char* const kOutputNames[kOutputCount] = {"cls_8",  "cls_16", "cls_32",  "obj_8",  "obj_16",
                                                "obj_32", "bbox_8", "bbox_16", "bbox_32"};

namespace {

inline void check(OrtStatus* status, const char* step) {
  if (status != nullptr) exit_runtime_failure(step, status);
}

}  // namespace

int64_t round_up_to_32(int64_t v) { return ((v - 1) & ~int64_t{31}) + 32; }

void open_model_session(const char* model_path, int32_t frame_width, int32_t frame_height,
                        RuntimeSession* runtime, ModelInput* input) {
  // An older library prints its own complaint before returning null; keep it
  // out so the one line on standard error is ours.
  const int quiet = platform_silence_stderr();
  g_ort = OrtGetApiBase()->GetApi(kApiVersion);
  platform_restore_stderr(quiet);
  if (g_ort == nullptr) exit_fatal(kRuntimeTooOldText);

  check(g_ort->CreateEnv(ORT_LOGGING_LEVEL_ERROR, "glintbox", &runtime->env), "CreateEnv");
  OrtSessionOptions* options = nullptr;
  check(g_ort->CreateSessionOptions(&options), "CreateSessionOptions");
  check(g_ort->SetIntraOpNumThreads(options, kIntraOpThreads), "SetIntraOpNumThreads");
  check(g_ort->CreateSession(runtime->env, platform_model_path(model_path), options,
                             &runtime->session),
        "loading the model");
  g_ort->ReleaseSessionOptions(options);

  check(g_ort->GetAllocatorWithDefaultOptions(&runtime->allocator),
        "GetAllocatorWithDefaultOptions");
  check(g_ort->SessionGetInputName(runtime->session, 0, runtime->allocator, &input->input_name),
        "reading the input name");

  OrtTypeInfo* type_info = nullptr;
  const OrtTensorTypeAndShapeInfo* tensor_info = nullptr;
  size_t rank = 0;
  int64_t dims[4] = {0, 0, 0, 0};
  check(g_ort->SessionGetInputTypeInfo(runtime->session, 0, &type_info), "reading the model input");
  check(g_ort->CastTypeInfoToTensorInfo(type_info, &tensor_info), "reading the model input");
  if (tensor_info == nullptr) exit_fatal(kInputNotImageText);  // not a tensor at all
  check(g_ort->GetDimensionsCount(tensor_info, &rank), "reading the model input");
  if (rank != 4) exit_fatal(kInputNotImageText);
  check(g_ort->GetDimensions(tensor_info, dims, 4), "reading the model input");
  g_ort->ReleaseTypeInfo(type_info);

  // A free dimension (reported as -1) takes the frame size rounded up to 32.
  input->input_height = dims[2] > 0 ? dims[2] : round_up_to_32(frame_height);
  input->input_width = dims[3] > 0 ? dims[3] : round_up_to_32(frame_width);
  if (input->input_width < frame_width || input->input_height < frame_height) {
    exit_invocation_error(kFrameTooLargeText, nullptr);
  }
}

void bind_input_tensor(RuntimeSession* runtime, float* tensor, const ModelInput& input) {
  check(g_ort->CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &runtime->memory_info),
        "CreateCpuMemoryInfo");
  const int64_t shape[4] = {1, 3, input.input_height, input.input_width};
  // The caller has checked that this product fits (see input_tensor_float_count).
  const size_t bytes = 3 * sizeof(float) * static_cast<size_t>(input.input_height) *
                       static_cast<size_t>(input.input_width);
  check(g_ort->CreateTensorWithDataAsOrtValue(runtime->memory_info, tensor, bytes, shape, 4,
                                              ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT,
                                              &runtime->input_tensor),
        "creating the input tensor");
}

void run_model(RuntimeSession* runtime, const ModelInput& input) {
  for (OrtValue*& output : runtime->outputs) output = nullptr;
  const char* input_names[1] = {input.input_name};
  const OrtValue* inputs[1] = {runtime->input_tensor};
  check(g_ort->Run(runtime->session, nullptr, input_names, inputs, 1, kOutputNames, kOutputCount,
                   runtime->outputs),
        "running YuNet");
}

namespace {

// The output's float data, after checking that it holds at least min_values
// floats: the decoder reads that many whatever the model produced.
const float* checked_output_data(RuntimeSession* runtime, int index, size_t min_values,
                                 const char* step) {
  OrtValue* value = runtime->outputs[index];
  OrtTensorTypeAndShapeInfo* info = nullptr;
  check(g_ort->GetTensorTypeAndShape(value, &info), step);
  ONNXTensorElementDataType type = ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED;
  size_t count = 0;
  OrtStatus* status = g_ort->GetTensorElementType(info, &type);
  if (status == nullptr) status = g_ort->GetTensorShapeElementCount(info, &count);
  g_ort->ReleaseTensorTypeAndShapeInfo(info);
  check(status, step);
  if (type != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT || count < min_values) {
    exit_fatal(kOutputDoesNotFitText, kOutputNames[index]);
  }
  void* data = nullptr;
  check(g_ort->GetTensorMutableData(value, &data), step);
  return static_cast<const float*>(data);
}

}  // namespace

StrideArrays stride_outputs(RuntimeSession* runtime, int stride_index, size_t anchor_count) {
  StrideArrays arrays;
  arrays.cls = checked_output_data(runtime, stride_index, anchor_count, "reading cls");
  arrays.obj = checked_output_data(runtime, 3 + stride_index, anchor_count, "reading obj");
  arrays.bbox = checked_output_data(runtime, 6 + stride_index, 4 * anchor_count, "reading bbox");
  return arrays;
}

StrideArrays fetch_stride_outputs(void* runtime, int stride_index, size_t anchor_count) {
  return stride_outputs(static_cast<RuntimeSession*>(runtime), stride_index, anchor_count);
}

void release_outputs(RuntimeSession* runtime) {
  for (OrtValue*& output : runtime->outputs) {
    g_ort->ReleaseValue(output);
    output = nullptr;
  }
}

void release_inference(RuntimeSession* runtime, ModelInput* input) {
  g_ort->ReleaseValue(runtime->input_tensor);
  g_ort->ReleaseMemoryInfo(runtime->memory_info);
  check(g_ort->AllocatorFree(runtime->allocator, input->input_name), "AllocatorFree");
  g_ort->ReleaseSession(runtime->session);
  g_ort->ReleaseEnv(runtime->env);
  *runtime = RuntimeSession{};
  input->input_name = nullptr;
}
