#include "app/main_sequence.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/frame_reader.h"
#include "detect/detect.h"
#include "diag/diag.h"
#include "frame/pack.h"
#include "output/result_line.h"
#include "platform/platform.h"
#include "runtime/runtime.h"

int run_main_sequence(const RunSettings& settings) {
  platform_set_stdin_binary();
  platform_ignore_broken_pipe();

  // Sizes that cannot even be represented are as unallocatable as huge ones;
  // that is reported after the model session was opened.
  size_t frame_bytes = 0;
  const bool frame_size_fits =
      frame_byte_count(settings.frame_width, settings.frame_height, &frame_bytes);
  // Early, so the parent can already write the first frame whole during start-up.
  if (frame_size_fits) platform_enlarge_stdin_pipe(frame_bytes);

  RuntimeSession runtime{};
  ModelInput input{};
  open_model_session(settings.model_path, settings.frame_width, settings.frame_height, &runtime,
                     &input);

  size_t tensor_floats = 0;
  if (!frame_size_fits) exit_fatal(kOutOfMemoryText);
  auto* frame = static_cast<uint8_t*>(std::malloc(frame_bytes));
  if (frame == nullptr) exit_fatal(kOutOfMemoryText);
  if (!input_tensor_float_count(input.input_height, input.input_width, &tensor_floats)) {
    exit_fatal(kOutOfMemoryText);
  }
  auto* tensor = static_cast<float*>(std::malloc(tensor_floats * sizeof(float)));
  if (tensor == nullptr) exit_fatal(kOutOfMemoryText);

  bind_input_tensor(&runtime, tensor, input);

  static CandidateList candidates;  // reused for every frame
  uint32_t frame_index = 0;
  while (read_frame(stdin, frame, frame_bytes)) {
    pack_frame(frame, settings.frame_width, settings.frame_height, tensor, input.input_width,
               input.input_height);
    run_model(&runtime, input);
    decode_anchors(fetch_stride_outputs, &runtime, input.input_height, input.input_width,
                   settings.score_threshold, &candidates);
    const int kept = suppress_overlaps(&candidates, settings.nms_threshold);
    if (!write_result_line(stdout, frame_index, candidates, kept, settings.frame_width,
                           settings.frame_height)) {
      // Nobody reads the answers any more (or the disk is full): stop now
      // rather than keep working on frames whose lines cannot arrive.
      exit_fatal(kWriteFailedText, std::strerror(errno));
    }
    release_outputs(&runtime);
    ++frame_index;
  }

  release_inference(&runtime, &input);
  std::free(frame);
  std::free(tensor);
  return 0;
}
