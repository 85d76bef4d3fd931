#include "platform/platform.h"

#include <csignal>
#include <cstdint>
#include <cstdio>

#include "diag/diag.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32

void platform_set_stdin_binary() { _setmode(_fileno(stdin), _O_BINARY); }

void platform_enlarge_stdin_pipe(size_t) {}
// A closed pipe already fails the write with an error there.
void platform_ignore_broken_pipe() {}

namespace {
constexpr int kModelPathCapacity = 4096;  // wide characters, terminator included
wchar_t g_model_path[kModelPathCapacity];
}  // namespace

const ORTCHAR_T* platform_model_path(const char* model_path_utf8) {
  // -1: convert the whole text including its terminator.
  if (MultiByteToWideChar(CP_UTF8, 0, model_path_utf8, -1, g_model_path, kModelPathCapacity) == 0) {
    exit_invocation_error(kModelPathTooLongText, model_path_utf8);
  }
  return g_model_path;
}

int platform_silence_stderr() {
  int saved = _dup(2);
  if (saved < 0) return -1;
  int null_fd = _open("NUL", _O_WRONLY);
  if (null_fd < 0 || _dup2(null_fd, 2) != 0) {
    if (null_fd >= 0) _close(null_fd);
    _close(saved);
    return -1;
  }
  _close(null_fd);
  return saved;
}

void platform_restore_stderr(int token) {
  if (token < 0) return;
  _dup2(token, 2);
  _close(token);
}

#else

// No text mode on POSIX streams: nothing to switch.
void platform_set_stdin_binary() {}

#ifdef F_SETPIPE_SZ
void platform_enlarge_stdin_pipe(size_t frame_bytes) {
  struct stat st;
  if (fstat(0, &st) != 0 || !S_ISFIFO(st.st_mode)) return;
  const int current = fcntl(0, F_GETPIPE_SZ);
  if (current < 0) return;
  // Beyond the system's limit the request is refused, so try smaller ones.
  for (size_t want = frame_bytes; want > static_cast<size_t>(current); want /= 2) {
    if (want <= INT32_MAX && fcntl(0, F_SETPIPE_SZ, static_cast<int>(want)) >= 0) return;
  }
}
#else
void platform_enlarge_stdin_pipe(size_t) {}
#endif
void platform_ignore_broken_pipe() { std::signal(SIGPIPE, SIG_IGN); }

const ORTCHAR_T* platform_model_path(const char* model_path_utf8) { return model_path_utf8; }

int platform_silence_stderr() {
  int saved = dup(2);
  if (saved < 0) return -1;
  int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_fd < 0 || dup2(null_fd, 2) < 0) {
    if (null_fd >= 0) close(null_fd);
    close(saved);
    return -1;
  }
  close(null_fd);
  return saved;
}

void platform_restore_stderr(int token) {
  if (token < 0) return;
  dup2(token, 2);
  close(token);
}

#endif
