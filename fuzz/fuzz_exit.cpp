#include "fuzz_exit.h"

#include <cstdio>

#include "diag/diag.h"

int g_fuzz_exit_status = -1;
std::jmp_buf g_fuzz_refused;

namespace {
char g_text[1 << 17];
FILE* g_capture = nullptr;
}  // namespace

void diag_end_process(int status) {
  std::fflush(stderr);
  g_fuzz_exit_status = status;
  std::longjmp(g_fuzz_refused, 1);
}

void fuzz_capture_stderr_reset() {
  if (g_capture == nullptr) {
    g_capture = fmemopen(g_text, sizeof g_text - 1, "w");
    setvbuf(g_capture, nullptr, _IONBF, 0);
    stderr = g_capture;
  }
  std::rewind(g_capture);
  g_text[0] = '\0';
  g_fuzz_exit_status = -1;
}

const char* fuzz_captured_stderr(size_t* length) {
  std::fflush(g_capture);
  const long at = std::ftell(g_capture);
  *length = at > 0 ? static_cast<size_t>(at) : 0;
  g_text[*length] = '\0';
  return g_text;
}
