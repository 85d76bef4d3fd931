#include "app/frame_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

TEST(FrameByteCount, ComputesWithoutWrapping) {
  size_t bytes = 0;
  ASSERT_TRUE(frame_byte_count(640, 480, &bytes));
  EXPECT_EQ(bytes, 921600u);
  ASSERT_TRUE(frame_byte_count(1, 1, &bytes));
  EXPECT_EQ(bytes, 3u);
  // 2147483647^2 * 3 still fits in 64 bits; it must not wrap to something small.
  ASSERT_TRUE(frame_byte_count(2147483647, 2147483647, &bytes));
  EXPECT_EQ(bytes, size_t{2147483647} * 2147483647u * 3u);
  EXPECT_FALSE(frame_byte_count(0, 5, &bytes));
  EXPECT_FALSE(frame_byte_count(5, -1, &bytes));
}

// A stream whose reads hand out at most `piece` bytes at a time, like a pipe
// fed by a slow producer.
struct PiecewiseSource {
  const uint8_t* data;
  size_t size;
  size_t offset;
  size_t piece;
};

ssize_t read_piece(void* cookie, char* buffer, size_t wanted) {
  auto* source = static_cast<PiecewiseSource*>(cookie);
  size_t n = std::min({wanted, source->piece, source->size - source->offset});
  if (n == 0) return 0;  // data may be null for an empty source
  std::memcpy(buffer, source->data + source->offset, n);
  source->offset += n;
  return static_cast<ssize_t>(n);
}

FILE* open_piecewise(PiecewiseSource* source) {
  cookie_io_functions_t io{};
  io.read = read_piece;
  FILE* f = fopencookie(source, "r", io);
  setvbuf(f, nullptr, _IONBF, 0);  // every fread reaches the source
  return f;
}

TEST(ReadFrame, AssemblesFramesFromSmallPiecesAndDropsAPartialOne) {
  const size_t frame_bytes = 12;
  std::vector<uint8_t> stream(frame_bytes * 5 / 2);  // two and a half frames
  for (size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<uint8_t>(i);

  for (size_t piece : {size_t{1}, size_t{5}, size_t{12}, size_t{1000}}) {
    PiecewiseSource source{stream.data(), stream.size(), 0, piece};
    FILE* in = open_piecewise(&source);
    uint8_t frame[frame_bytes];
    ASSERT_TRUE(read_frame(in, frame, frame_bytes)) << piece;
    EXPECT_EQ(std::memcmp(frame, stream.data(), frame_bytes), 0);
    ASSERT_TRUE(read_frame(in, frame, frame_bytes)) << piece;
    EXPECT_EQ(std::memcmp(frame, stream.data() + frame_bytes, frame_bytes), 0);
    EXPECT_FALSE(read_frame(in, frame, frame_bytes)) << piece;
    EXPECT_FALSE(read_frame(in, frame, frame_bytes)) << piece;
    fclose(in);
  }
}

TEST(ReadFrame, EmptyInputEndsAtOnce) {
  PiecewiseSource source{nullptr, 0, 0, 1};
  FILE* in = open_piecewise(&source);
  uint8_t frame[3];
  EXPECT_FALSE(read_frame(in, frame, sizeof frame));
  fclose(in);
}

}  // namespace
