#include "runtime/ort_api.h"

const OrtApi* g_ort = nullptr;
