#include "diag/diag.h"

#include <cstdio>

#include "runtime/ort_api.h"

namespace {

inline bool is_control(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7f;
}

void write_plain_message(const char* text, const char* detail) {
  std::fputs("glintbox: ", stderr);
  write_folded_text(stderr, text);
  if (detail != nullptr) {
    std::fputs(": ", stderr);
    write_folded_text(stderr, detail);
  }
  std::fputc('\n', stderr);
}

}  // namespace

void write_folded_text(FILE* out, const char* text) {
  const char* p = text;
  while (*p != '\0') {
    if (*p != ' ' && !is_control(*p)) {
      std::fputc(*p++, out);
      continue;
    }
    // A run of blanks: kept as it is unless it holds a line break or other
    // control character, then it becomes one space (or nothing at the end).
    const char* run = p;
    bool control = false;
    while (*p == ' ' || (*p != '\0' && is_control(*p))) control |= is_control(*p++);
    if (!control) {
      std::fwrite(run, 1, static_cast<size_t>(p - run), out);
    } else if (*p != '\0') {
      std::fputc(' ', out);
    }
  }
}

void exit_invocation_error(const char* text, const char* detail) {
  write_plain_message(text, detail);
  diag_end_process(kExitInvocationError);
}

void exit_fatal(const char* text, const char* detail) {
  write_plain_message(text, detail);
  diag_end_process(kExitRuntimeFailure);
}

void exit_runtime_failure(const char* step, OrtStatus* status) {
  std::fprintf(stderr, "glintbox: %s failed: ", step);
  write_folded_text(stderr, g_ort->GetErrorMessage(status));
  std::fputc('\n', stderr);
  g_ort->ReleaseStatus(status);
  diag_end_process(kExitRuntimeFailure);
}
