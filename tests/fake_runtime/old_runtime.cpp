// Stands in for an ONNX Runtime library older than the API glintbox asks for:
// like the real one, it complains on standard error and returns no table.
#include <onnxruntime_c_api.h>

#include <cstdio>

namespace {

const OrtApi* ORT_API_CALL get_api(uint32_t version) NO_EXCEPTION {
  std::fprintf(stderr,
               "The requested API version [%u] is not available, only API versions [1, 12] are "
               "supported in this build.\n",
               version);
  return nullptr;
}

const char* ORT_API_CALL get_version_string() NO_EXCEPTION { return "1.12.0"; }

const OrtApiBase kApiBase = {get_api, get_version_string};

}  // namespace

extern "C" const OrtApiBase* ORT_API_CALL OrtGetApiBase(void) NO_EXCEPTION { return &kApiBase; }
