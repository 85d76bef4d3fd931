// Arbitrary byte streams handed out in arbitrary read sizes: read_frame must
// yield floor(bytes / frame size) frames with the right contents, then stop.
//
// Input: [width 1..16][height 1..16][mode][n sizes][n read sizes][stream bytes]
// mode bit 0-1: stdio buffering (none, 7 bytes, default); bit 2: the source
// ends with a read error instead of end of file.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/frame_reader.h"

namespace {

void require(bool condition, const char* what) {
  if (!condition) {
    // Straight to fd 2: stdio may be buffered or redirected, and abort() follows.
    dprintf(2, "frame_reader_fuzzer: %s\n", what);
    std::abort();
  }
}

struct Source {
  const uint8_t* data;
  size_t size;
  size_t offset;
  const uint8_t* read_sizes;  // each 1..256 after mapping
  size_t read_size_count;
  size_t reads;
  bool fail_at_end;
};

ssize_t read_some(void* cookie, char* buffer, size_t wanted) {
  auto* s = static_cast<Source*>(cookie);
  if (s->offset == s->size) {
    if (s->fail_at_end) {
      errno = EIO;
      return -1;
    }
    return 0;
  }
  size_t piece = 1;
  if (s->read_size_count > 0) piece = size_t{s->read_sizes[s->reads % s->read_size_count]} + 1;
  ++s->reads;
  const size_t n = std::min({wanted, piece, s->size - s->offset});
  std::memcpy(buffer, s->data + s->offset, n);
  s->offset += n;
  return static_cast<ssize_t>(n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int32_t width = data[0] % 16 + 1;
  const int32_t height = data[1] % 16 + 1;
  const uint8_t mode = data[2];
  const size_t size_count = std::min<size_t>(data[3], size - 4);
  Source source{data + 4 + size_count, size - 4 - size_count, 0, data + 4, size_count, 0,
                (mode & 4) != 0};

  size_t frame_bytes = 0;
  require(frame_byte_count(width, height, &frame_bytes), "small frame size refused");
  require(frame_bytes == static_cast<size_t>(width) * static_cast<size_t>(height) * 3,
          "wrong frame size");

  cookie_io_functions_t io{};
  io.read = read_some;
  FILE* in = fopencookie(&source, "r", io);
  require(in != nullptr, "fopencookie failed");
  static char stdio_buffer[7];
  if ((mode & 3) == 0) setvbuf(in, nullptr, _IONBF, 0);
  if ((mode & 3) == 1) setvbuf(in, stdio_buffer, _IOFBF, sizeof stdio_buffer);

  // The frame buffer is exactly frame_bytes long, so ASan sees any overrun.
  std::vector<uint8_t> frame(frame_bytes);
  size_t frames = 0;
  while (read_frame(in, frame.data(), frame_bytes)) {
    require((frames + 1) * frame_bytes <= source.size, "more frames than whole frames sent");
    require(std::memcmp(frame.data(), source.data + frames * frame_bytes, frame_bytes) == 0,
            "frame contents differ from the stream");
    ++frames;
  }
  require(frames == source.size / frame_bytes, "fewer frames than whole frames sent");
  require(!read_frame(in, frame.data(), frame_bytes), "a frame after the end");
  std::fclose(in);
  return 0;
}
