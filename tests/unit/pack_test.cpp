#include "frame/pack.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Straightforward reference: clear everything, then copy every pixel.
std::vector<float> reference_pack(const std::vector<uint8_t>& frame, int fw, int fh, int iw,
                                  int ih) {
  std::vector<float> t(3 * static_cast<size_t>(iw) * ih, 0.0f);
  for (int y = 0; y < fh; ++y)
    for (int x = 0; x < fw; ++x)
      for (int c = 0; c < 3; ++c)
        t[(static_cast<size_t>(c) * ih + y) * iw + x] =
            frame[(static_cast<size_t>(y) * fw + x) * 3 + c];
  return t;
}

std::vector<uint8_t> pattern_frame(int fw, int fh, unsigned seed) {
  std::vector<uint8_t> frame(static_cast<size_t>(fw) * fh * 3);
  for (size_t i = 0; i < frame.size(); ++i)
    frame[i] = static_cast<uint8_t>((i * 31 + seed) % 251 + 1);
  return frame;
}

TEST(PackFrame, OnePixelInA32By32Input) {
  const std::vector<uint8_t> frame = {255, 0, 128};
  std::vector<float> tensor(3 * 32 * 32, -1.0f);
  pack_frame(frame.data(), 1, 1, tensor.data(), 32, 32);
  EXPECT_EQ(tensor[0], 255.0f);
  EXPECT_EQ(tensor[32 * 32], 0.0f);
  EXPECT_EQ(tensor[2 * 32 * 32], 128.0f);
  EXPECT_EQ(tensor, reference_pack(frame, 1, 1, 32, 32));
}

TEST(PackFrame, MatchesTheReferenceForAssortedSizes) {
  struct Case {
    int fw, fh, iw, ih;
  };
  const Case cases[] = {
      {32, 32, 32, 32},     // exactly the input size: no padding
      {5, 3, 32, 32},       // width not a multiple of 4
      {33, 7, 64, 32},      // odd width, padding right and below
      {17, 20, 17, 64},     // padding below only
      {30, 32, 32, 32},     // padding right only
      {640, 480, 640, 640}  // a wide frame in a fixed square input
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> frame = pattern_frame(c.fw, c.fh, 7);
    std::vector<float> tensor(3 * static_cast<size_t>(c.iw) * c.ih, -1.0f);
    pack_frame(frame.data(), c.fw, c.fh, tensor.data(), c.iw, c.ih);
    EXPECT_EQ(tensor, reference_pack(frame, c.fw, c.fh, c.iw, c.ih))
        << c.fw << "x" << c.fh << " in " << c.iw << "x" << c.ih;
  }
}

TEST(PackFrame, PaddingIsZeroAgainAfterAnEarlierFrameFilledIt) {
  std::vector<float> tensor(3 * 64 * 64, 0.0f);
  // Something (an earlier, larger use of the buffer) left non-zero values everywhere.
  for (float& v : tensor) v = 99.0f;
  const std::vector<uint8_t> frame = pattern_frame(40, 30, 3);
  pack_frame(frame.data(), 40, 30, tensor.data(), 64, 64);
  EXPECT_EQ(tensor, reference_pack(frame, 40, 30, 64, 64));
}

TEST(InputTensorFloatCount, RefusesSizesThatCannotBeRepresented) {
  size_t floats = 0;
  ASSERT_TRUE(input_tensor_float_count(480, 640, &floats));
  EXPECT_EQ(floats, 3u * 480 * 640);
  EXPECT_FALSE(input_tensor_float_count(2147483648, 2147483648, &floats));
  EXPECT_FALSE(input_tensor_float_count(INT64_MAX, 1, &floats));
  EXPECT_FALSE(input_tensor_float_count(0, 640, &floats));
}

}  // namespace
