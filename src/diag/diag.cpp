#include "diag/diag.h"

#include <cstdio>
#include <cstdlib>

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

void exit_invocation_error(const char* text, const char* detail) {
  write_plain_message(text, detail);
  end_process(kExitInvocationError);
}

void exit_fatal(const char* text, const char* detail) {
  write_plain_message(text, detail);
  end_process(kExitRuntimeFailure);
}

void exit_runtime_failure(const char* step, OrtStatus* status) {
  std::fprintf(stderr, "glintbox: %s failed: %s\n", step, g_ort->GetErrorMessage(status));
  g_ort->ReleaseStatus(status);
  end_process(kExitRuntimeFailure);
}
