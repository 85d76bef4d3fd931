#include "frame/pack.h"

#include <cstring>

namespace {

// The loop vectorises only with byte shuffles (SSSE3 and later), which the
// x86-64 baseline lacks; so on x86-64 Linux it is also compiled for SSSE3,
// AVX2 and AVX-512, and the loader picks the best the processor has (about
// 6x faster than the baseline build, see bench/micro_bench.cpp).
#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__)
#define GLINTBOX_ROW_CLONES \
  __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "ssse3", "default")))
#else
#define GLINTBOX_ROW_CLONES
#endif

GLINTBOX_ROW_CLONES void convert_row(const uint8_t* __restrict src, size_t width,
                                     float* __restrict dst0, float* __restrict dst1,
                                     float* __restrict dst2) {
  for (size_t x = 0; x < width; ++x) {
    dst0[x] = src[3 * x];
    dst1[x] = src[3 * x + 1];
    dst2[x] = src[3 * x + 2];
  }
}

}  // namespace

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
    convert_row(src, fw, dst0, dst1, dst2);
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
