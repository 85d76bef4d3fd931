#include "diag/diag.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/ort_api.h"

namespace {

[[noreturn]] void end_process(int status) {
  // Every finished frame's line was flushed when it was written, so nothing is
  // lost by skipping exit handlers; skipping them also keeps the runtime's
  // static teardown from running while its objects are still alive.
  std::fflush(stderr);
  std::_Exit(status);
}

void write_plain_message(const char* text, const char* detail) {
  std::fprintf(stderr, "glintbox: %s%s%s\n", text, detail ? ": " : "", detail ? detail : "");
}

}  // namespace

void fold_into_one_line(const char* text, char* out) {
  char* end = out;  // one past the last character that is not white space
  char* at = out;
  for (; *text != '\0'; ++text) {
    const char c = (*text == '\n' || *text == '\r') ? ' ' : *text;
    *at++ = c;
    if (c != ' ' && c != '\t') end = at;
  }
  *end = '\0';
}

void exit_invocation_error(const char* text, const char* detail) {
  write_plain_message(text, detail);
  end_process(kExitInvocationError);
}

void exit_fatal(const char* text, const char* detail) {
  write_plain_message(text, detail);
  end_process(kExitRuntimeFailure);
}

void exit_runtime_failure(const char* step, OrtStatus* status) {
  // The runtime's text may span lines; fold it so the diagnostic stays one line.
  const char* message = g_ort->GetErrorMessage(status);
  char* folded = static_cast<char*>(std::malloc(std::strlen(message) + 1));
  if (folded != nullptr) {
    fold_into_one_line(message, folded);
    message = folded;
  }
  std::fprintf(stderr, "glintbox: %s failed: %s\n", step, message);
  g_ort->ReleaseStatus(status);
  end_process(kExitRuntimeFailure);
}
