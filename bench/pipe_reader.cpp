// The frame's trip through the pipe on its own: reads whole frames exactly as
// glintbox does and answers each with a short flushed line, nothing else.
//   pipe_reader W H [--enlarge]   --enlarge resizes a stdin pipe as glintbox does
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/frame_reader.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: pipe_reader W H [--enlarge]\n");
    return 1;
  }
  size_t frame_bytes = 0;
  if (!frame_byte_count(std::atoi(argv[1]), std::atoi(argv[2]), &frame_bytes)) return 1;
  if (argc > 3 && std::strcmp(argv[3], "--enlarge") == 0) platform_enlarge_stdin_pipe(frame_bytes);
  auto* frame = static_cast<uint8_t*>(std::malloc(frame_bytes));
  if (frame == nullptr) return 2;
  for (unsigned n = 0; read_frame(stdin, frame, frame_bytes); ++n) {
    std::printf("{\"frame\":%u,\"faces\":[]}\n", n);
    std::fflush(stdout);
  }
  std::free(frame);
  return 0;
}
