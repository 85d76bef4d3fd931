#include "output/result_line.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string written_line(uint32_t frame_index, const CandidateList& list, int kept, int fw,
                         int fh) {
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  EXPECT_TRUE(write_result_line(out, frame_index, list, kept, fw, fh));
  std::fclose(out);
  std::string line(text, size);
  std::free(text);
  return line;
}

TEST(ResultLine, FrameWithoutFaces) {
  static CandidateList list;
  EXPECT_EQ(written_line(0, list, 0, 640, 480), "{\"frame\":0,\"faces\":[]}\n");
  EXPECT_EQ(written_line(10, list, 0, 640, 480), "{\"frame\":10,\"faces\":[]}\n");
  EXPECT_EQ(written_line(4294967295u, list, 0, 1, 1), "{\"frame\":4294967295,\"faces\":[]}\n");
}

TEST(ResultLine, FacesAsFractionsOfTheFrameWithFourDecimals) {
  static CandidateList list;
  list.boxes[0] = {64, 48, 128, 96, 0.91234f};
  list.boxes[1] = {-6.4f, 0, 700, 480, 0.5f};  // over the edges: not clamped
  EXPECT_EQ(written_line(7, list, 1, 640, 480),
            "{\"frame\":7,\"faces\":[{\"x\":0.1000,\"y\":0.1000,\"w\":0.2000,\"h\":0.2000,"
            "\"score\":0.9123}]}\n");
  EXPECT_EQ(written_line(7, list, 2, 640, 480),
            "{\"frame\":7,\"faces\":[{\"x\":0.1000,\"y\":0.1000,\"w\":0.2000,\"h\":0.2000,"
            "\"score\":0.9123},{\"x\":-0.0100,\"y\":0.0000,\"w\":1.0938,\"h\":1.0000,"
            "\"score\":0.5000}]}\n");
}

TEST(ResultLine, WritesAtMostThirtyTwoFacesInTheirOrder) {
  static CandidateList list;
  for (int i = 0; i < 40; ++i) list.boxes[i] = {static_cast<float>(i), 0, 1, 1, 0.99f - i * 0.01f};
  const std::string line = written_line(1, list, 40, 1000, 1);
  size_t faces = 0;
  for (size_t at = line.find("\"x\":"); at != std::string::npos; at = line.find("\"x\":", at + 1))
    ++faces;
  EXPECT_EQ(faces, 32u);
  EXPECT_NE(line.find("{\"x\":0.0310,"), std::string::npos);   // the 32nd
  EXPECT_EQ(line.find("{\"x\":0.0320,"), std::string::npos);   // the 33rd is left out
  EXPECT_EQ(line.find("\"x\":0.0000,"), line.find("\"x\":"));  // best first
}

ssize_t refuse_write(void*, const char*, size_t) {
  errno = EPIPE;
  return -1;
}

// A reader that went away must be noticed, so the caller can stop.
TEST(ResultLine, ReportsAFailedWrite) {
  cookie_io_functions_t io{};
  io.write = refuse_write;
  FILE* out = fopencookie(nullptr, "w", io);
  ASSERT_NE(out, nullptr);
  static CandidateList list;
  list.boxes[0] = {1, 1, 1, 1, 0.9f};
  errno = 0;
  EXPECT_FALSE(write_result_line(out, 0, list, 1, 10, 10));
  EXPECT_EQ(errno, EPIPE);
  std::fclose(out);
}

}  // namespace
