// The ONNX Runtime binding: session setup, the input tensor over the
// program's own buffer, one run per frame with nine named outputs, release.
#pragma once

#include <cstddef>
#include <cstdint>

#include "detect/detect.h"
#include "runtime/ort_api.h"

constexpr uint32_t kApiVersion = 23;
constexpr int kIntraOpThreads = 2;
constexpr int kOutputCount = 9;

// Requested in this order; stride position s uses indices s, 3 + s and 6 + s.
extern const char* const kOutputNames[kOutputCount];

struct ModelInput {
  char* input_name;  // from the default allocator; freed at the end of input
  int64_t input_height;
  int64_t input_width;
};

struct RuntimeSession {
  OrtEnv* env;
  OrtSession* session;
  OrtAllocator* allocator;  // the runtime's; never released by the program
  OrtMemoryInfo* memory_info;
  OrtValue* input_tensor;
  OrtValue* outputs[kOutputCount];  // one frame's, released after its line
};

// Smallest multiple of 32 not below v (v >= 1), in 64-bit so it cannot overflow.
int64_t round_up_to_32(int64_t v);

// Checks the runtime version, loads the model with two intra-op threads and
// resolves the input size; refuses frames larger than a fixed input (status 1).
void open_model_session(const char* model_path, int32_t frame_width, int32_t frame_height,
                        RuntimeSession* runtime, ModelInput* input);

// Creates the input tensor once over the program's buffer of 3 x H x W floats.
void bind_input_tensor(RuntimeSession* runtime, float* tensor, const ModelInput& input);

// Runs the network on the current tensor content; fills runtime->outputs.
void run_model(RuntimeSession* runtime, const ModelInput& input);

// The class-score, objectness and box arrays of stride position s, each
// checked to be a float tensor with enough values for anchor_count anchors.
StrideArrays stride_outputs(RuntimeSession* runtime, int stride_index, size_t anchor_count);

// Adapter for decode_anchors; context is the RuntimeSession.
StrideArrays fetch_stride_outputs(void* runtime, int stride_index, size_t anchor_count);

void release_outputs(RuntimeSession* runtime);

// End of input: input tensor, memory description, input name, session, environment.
void release_inference(RuntimeSession* runtime, ModelInput* input);
