// Diagnostics: the one way glintbox reports a problem. Each operation writes
// one line to standard error and ends the process; none returns.
#pragma once

#include <cstdio>

struct OrtStatus;

// Exit statuses.
constexpr int kExitInvocationError = 1;  // the command line, model path or frame size cannot work
constexpr int kExitRuntimeFailure = 2;   // the runtime refused, the model is unusable, or no memory

// Every message text glintbox can write, in one place.
constexpr const char* kUsageText =
    "usage: glintbox --model <yunet.onnx> --width <px> --height <px> [--score 0.6] [--nms 0.3]";
constexpr const char* kUnknownArgumentText = "unknown argument";
constexpr const char* kBadWholeNumberText = "expected a positive whole number for";
constexpr const char* kBadFractionText = "expected a number between 0 and 1 for";
constexpr const char* kModelPathTooLongText = "model path is too long";
constexpr const char* kFrameTooLargeText = "the frame is larger than the model's fixed input";
constexpr const char* kRuntimeTooOldText =
    "this onnxruntime library is older than the helper was built for";
constexpr const char* kInputNotImageText = "the model input is not an NCHW image";
constexpr const char* kOutOfMemoryText = "out of memory";
constexpr const char* kOutputDoesNotFitText = "the model output does not fit the input";
constexpr const char* kWriteFailedText = "writing the result line failed";

// "glintbox: <text>[: <detail>]", status 1. detail may be null.
[[noreturn]] void exit_invocation_error(const char* text, const char* detail);

// "glintbox: <text>[: <detail>]", status 2. detail may be null.
[[noreturn]] void exit_fatal(const char* text, const char* detail = nullptr);

// "glintbox: <step> failed: <runtime's message>", status 2; releases the status.
[[noreturn]] void exit_runtime_failure(const char* step, OrtStatus* status);

// Writes text with every run of blanks that holds a line break or another
// control character folded into one space (dropped at the end), so a runtime
// message or an argument cannot split the diagnostic over several lines.
void write_folded_text(FILE* out, const char* text);

// Flushes standard error and ends the process with status, skipping exit
// handlers. Defined in end_process.cpp; the fuzz build links its own.
[[noreturn]] void diag_end_process(int status);
