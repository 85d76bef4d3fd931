// Example: drives glintbox from C++ through pipes. Reads raw BGR frames from a
// file (or "-" for standard input), streams them to glintbox on one thread
// while this thread reads and prints the faces of each frame.
//
// usage: glintbox_cpp_client --glintbox BIN --model M.onnx --width W --height H
//                            [--score S] [--nms N] FRAMES
// Prints "frame N: K face(s)" then one line per face: the box as fractions of
// the frame and in pixels. On failure prints "glintbox_cpp_client: <reason>"
// (for glintbox's own failures, its status and stderr line) and exits 1.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "glintbox_client.h"

namespace {

int fail(const std::string& reason) {
  std::fprintf(stderr, "glintbox_cpp_client: %s\n", reason.c_str());
  return 1;
}

// Feeds every whole frame of the file to glintbox, then ends its input.
void write_frames(std::FILE* in, size_t frame_bytes, GlintboxChild* child) {
  std::vector<uint8_t> frame(frame_bytes);
  while (std::fread(frame.data(), 1, frame_bytes, in) == frame_bytes) {
    if (!glintbox_write_frame(child, frame.data(), frame_bytes)) break;  // it has exited
  }
  glintbox_end_input(child);
}

}  // namespace

int main(int argc, char** argv) {
  GlintboxOptions options;
  const char* frames_path = nullptr;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    const bool has_value = k + 1 < argc;
    if (arg == "--glintbox" && has_value) {
      options.program = argv[++k];
    } else if (arg == "--model" && has_value) {
      options.model = argv[++k];
    } else if (arg == "--width" && has_value) {
      options.width = std::atoi(argv[++k]);
    } else if (arg == "--height" && has_value) {
      options.height = std::atoi(argv[++k]);
    } else if (arg == "--score" && has_value) {
      options.score = argv[++k];
    } else if (arg == "--nms" && has_value) {
      options.nms = argv[++k];
    } else if (frames_path == nullptr) {
      frames_path = argv[k];
    } else {
      return fail("unexpected argument: " + arg);
    }
  }
  if (frames_path == nullptr || options.model.empty()) {
    return fail(
        "usage: glintbox_cpp_client --glintbox BIN --model M.onnx --width W --height H "
        "[--score S] [--nms N] FRAMES");
  }
  // glintbox validates the size itself; the frame size here only needs to be positive.
  const size_t frame_bytes = options.width > 0 && options.height > 0
                                 ? static_cast<size_t>(options.width) * options.height * 3
                                 : 1;

  std::FILE* in = std::strcmp(frames_path, "-") == 0 ? stdin : std::fopen(frames_path, "rb");
  if (in == nullptr) return fail(std::string("cannot open ") + frames_path);

  // A write to a glintbox that has exited must fail with EPIPE, not kill us.
  std::signal(SIGPIPE, SIG_IGN);

  GlintboxChild child;
  std::string error;
  if (!glintbox_start(options, &child, &error)) return fail(error);

  std::thread writer(write_frames, in, frame_bytes, &child);
  GlintboxResult result;
  std::string line_error;
  for (;;) {
    error.clear();
    if (glintbox_read_result(&child, &result, &error)) {
      std::printf("frame %lu: %zu face(s)\n", result.frame, result.faces.size());
      for (const GlintboxFace& f : result.faces) {
        std::printf("  x=%.4f y=%.4f w=%.4f h=%.4f score=%.4f  pixels: left %.0f top %.0f "
                    "width %.0f height %.0f\n",
                    f.x, f.y, f.w, f.h, f.score, f.x * options.width, f.y * options.height,
                    f.w * options.width, f.h * options.height);
      }
      continue;
    }
    if (error.empty()) break;  // end of output
    // Keep reading after a bad line so glintbox (and the writer) never stall.
    if (line_error.empty()) line_error = error;
  }
  writer.join();
  if (in != stdin) std::fclose(in);

  std::string exit_error;
  const bool exited_ok = glintbox_finish(&child, &exit_error);
  if (!exited_ok) return fail(exit_error);
  if (!line_error.empty()) return fail(line_error);
  return 0;
}
