#include "platform/platform.h"

#include <gtest/gtest.h>

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace {

// Puts fd on standard input for the test's duration, then puts the old one back.
struct StdinSwap {
  int saved;
  explicit StdinSwap(int fd) : saved(dup(0)) { dup2(fd, 0); }
  ~StdinSwap() {
    dup2(saved, 0);
    close(saved);
  }
};

TEST(EnlargeStdinPipe, APipeGrowsToHoldAFrameAndOtherInputIsLeftAlone) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const int before = fcntl(fds[0], F_GETPIPE_SZ);
  {
    StdinSwap swap(fds[0]);
    platform_enlarge_stdin_pipe(640 * 480 * 3);
  }
  EXPECT_LT(before, 640 * 480 * 3);
  EXPECT_GE(fcntl(fds[0], F_GETPIPE_SZ), 640 * 480 * 3);
  // A frame smaller than the pipe leaves it as it is.
  const int grown = fcntl(fds[0], F_GETPIPE_SZ);
  {
    StdinSwap swap(fds[0]);
    platform_enlarge_stdin_pipe(3);
  }
  EXPECT_EQ(fcntl(fds[0], F_GETPIPE_SZ), grown);
  close(fds[0]);
  close(fds[1]);

  // A regular file on standard input: nothing to do, and it still reads.
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ASSERT_GE(std::fputs("abc", file), 0);
  std::fflush(file);
  lseek(fileno(file), 0, SEEK_SET);
  {
    StdinSwap swap(fileno(file));
    platform_enlarge_stdin_pipe(640 * 480 * 3);
    char got[4] = {};
    EXPECT_EQ(read(0, got, 3), 3);
    EXPECT_STREQ(got, "abc");
  }
  std::fclose(file);
}

}  // namespace
#endif
