// Arbitrary argument vectors: either valid RunSettings come back, or the
// process would end with status 1 and exactly one "glintbox: ..." line.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz_exit.h"

namespace {

void require(bool condition, const char* what) {
  if (!condition) {
    // Straight to fd 2: stdio may be buffered or redirected, and abort() follows.
    dprintf(2, "command_line_fuzzer: %s\n", what);
    std::abort();
  }
}

bool strictly_between_0_and_1(float v) { return v > 0.0f && v < 1.0f; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Arguments are the input cut at NUL bytes (an empty piece is an empty argument).
  std::vector<std::string> pieces{"glintbox"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      pieces.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (size > 0) pieces.push_back(current);
  std::vector<const char*> argv;
  for (const std::string& p : pieces) argv.push_back(p.c_str());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(pieces.size());

  fuzz_capture_stderr_reset();
  if (setjmp(g_fuzz_refused) == 0) {
    const RunSettings s = parse_command_line(argc, argv.data());
    size_t length = 0;
    fuzz_captured_stderr(&length);
    require(length == 0, "accepted settings but wrote to stderr");
    require(s.model_path != nullptr, "model_path is null");
    require(s.frame_width >= 1 && s.frame_height >= 1, "frame size below 1");
    require(strictly_between_0_and_1(s.score_threshold), "score threshold outside (0,1)");
    require(strictly_between_0_and_1(s.nms_threshold), "nms threshold outside (0,1)");
    // The path is borrowed unchanged: the value after the last --model pair.
    const char* expected_model = nullptr;
    for (int k = 2; k < argc; k += 2) {
      if (std::strcmp(argv[k - 1], "--model") == 0) expected_model = argv[k];
    }
    require(s.model_path == expected_model, "model_path is not the last --model value");
    return 0;
  }
  // Refused: status 1 and one line "glintbox: ...\n" without control characters.
  require(g_fuzz_exit_status == 1, "refusal with a status other than 1");
  size_t length = 0;
  const char* text = fuzz_captured_stderr(&length);
  require(length > 11 && std::strncmp(text, "glintbox: ", 10) == 0, "refusal without prefix");
  require(text[length - 1] == '\n', "refusal line not ended");
  for (size_t i = 0; i + 1 < length; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    require(c >= 0x20 && c != 0x7f, "control character inside the refusal line");
  }
  return 0;
}
