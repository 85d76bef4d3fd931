// The few things that differ between operating systems.
#pragma once

#include <onnxruntime_c_api.h>

#include <cstddef>

// Standard input must deliver frame bytes untranslated.
void platform_set_stdin_binary();

// When standard input is a pipe, asks for it to hold a whole frame (or the
// largest halving of that the system grants), so the parent can write the
// next frame while this one is inferred. Silently does nothing when refused
// or where pipes cannot be resized.
void platform_enlarge_stdin_pipe(size_t frame_bytes);
// A reader that closes standard output must not kill glintbox silently with
// SIGPIPE: the failed write is reported instead (POSIX; nothing on Windows).
void platform_ignore_broken_pipe();

// The model path in the runtime's path character type. On Windows the UTF-8
// text is converted to UTF-16 (at most 4096 wide characters with the
// terminator, else "model path is too long", status 1); elsewhere it is the
// text itself. The result stays valid until the next call.
const ORTCHAR_T* platform_model_path(const char* model_path_utf8);

// Sends standard error to nowhere until platform_restore_stderr, so a library
// cannot print around glintbox's own single diagnostic line. Returns a token
// for restoring, or -1 when standard error could not be redirected.
int platform_silence_stderr();
void platform_restore_stderr(int token);
