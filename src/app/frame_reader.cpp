#include "app/frame_reader.h"

bool frame_byte_count(int32_t frame_width, int32_t frame_height, size_t* bytes) {
  if (frame_width < 1 || frame_height < 1) return false;
  size_t pixels = 0;
  return !__builtin_mul_overflow(static_cast<size_t>(frame_width),
                                 static_cast<size_t>(frame_height), &pixels) &&
         !__builtin_mul_overflow(pixels, size_t{3}, bytes);
}

bool read_frame(FILE* in, uint8_t* frame, size_t frame_bytes) {
  size_t filled = 0;
  while (filled < frame_bytes) {
    size_t got = std::fread(frame + filled, 1, frame_bytes - filled, in);
    if (got == 0) return false;
    filled += got;
  }
  return true;
}
