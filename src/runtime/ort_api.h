// The runtime's function table: one process-wide pointer, set once when the
// model session is opened and read by every runtime call.
#pragma once

#include <onnxruntime_c_api.h>

extern const OrtApi* g_ort;
