#include "frame/pack.h"

#include <cstring>

bool input_tensor_float_count(int64_t input_height, int64_t input_width, size_t* floats) {
  if (input_height < 1 || input_width < 1) return false;
  size_t plane = 0;
  size_t all = 0;
  size_t bytes = 0;
  if (__builtin_mul_overflow(static_cast<uint64_t>(input_height),
                             static_cast<uint64_t>(input_width), &plane) ||
      __builtin_mul_overflow(plane, size_t{3}, &all) ||
      __builtin_mul_overflow(all, sizeof(float), &bytes)) {
    return false;
  }
  *floats = all;
  return true;
}

void pack_frame(const uint8_t* frame, int32_t frame_width, int32_t frame_height, float* tensor,
                int64_t input_width, int64_t input_height) {
  const size_t fw = static_cast<size_t>(frame_width);
  const size_t fh = static_cast<size_t>(frame_height);
  const size_t iw = static_cast<size_t>(input_width);
  const size_t ih = static_cast<size_t>(input_height);
  const size_t plane_size = iw * ih;
  float* plane0 = tensor;
  float* plane1 = tensor + plane_size;
  float* plane2 = tensor + 2 * plane_size;

  // Only the padding is cleared: the frame's own area is overwritten in full.
  for (size_t y = 0; y < fh; ++y) {
    const uint8_t* src = frame + y * fw * 3;
    float* dst0 = plane0 + y * iw;
    float* dst1 = plane1 + y * iw;
    float* dst2 = plane2 + y * iw;
    for (size_t x = 0; x < fw; ++x) {
      dst0[x] = src[3 * x];
      dst1[x] = src[3 * x + 1];
      dst2[x] = src[3 * x + 2];
    }
    if (iw > fw) {
      const size_t pad = (iw - fw) * sizeof(float);
      std::memset(dst0 + fw, 0, pad);
      std::memset(dst1 + fw, 0, pad);
      std::memset(dst2 + fw, 0, pad);
    }
  }
  if (ih > fh) {
    const size_t pad = (ih - fh) * iw * sizeof(float);
    std::memset(plane0 + fh * iw, 0, pad);
    std::memset(plane1 + fh * iw, 0, pad);
    std::memset(plane2 + fh * iw, 0, pad);
  }
}
