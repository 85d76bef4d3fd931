// The fuzz build's replacement for the process ending in src/diag: instead of
// _Exit, a refusal jumps back into the fuzzer with its status, and the
// diagnostic text goes to a buffer the fuzzer can check.
#pragma once

#include <csetjmp>
#include <cstddef>

// Set by diag_end_process before it jumps to g_fuzz_refused.
extern int g_fuzz_exit_status;
extern std::jmp_buf g_fuzz_refused;

// Points stderr at a memory buffer (libFuzzer keeps its own handle to the
// real one) and empties it.
void fuzz_capture_stderr_reset();

// The text written to stderr since the last reset (NUL-terminated).
const char* fuzz_captured_stderr(size_t* length);
