#include "app/command_line.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "diag/diag.h"

namespace {

// strtol rules, saturated to the signed 32-bit range; the whole text must parse.
int32_t parse_positive_whole_number(const char* option, const char* text) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  if (end == text || *end != '\0' || value < 1) {
    exit_invocation_error(kBadWholeNumberText, option);
  }
  return static_cast<int32_t>(value);
}

// strtof rules; the whole text must parse and lie strictly between 0 and 1
// (which also refuses infinities and NaN).
float parse_fraction(const char* option, const char* text) {
  char* end = nullptr;
  float value = std::strtof(text, &end);
  if (end == text || *end != '\0' || !(value > 0.0f && value < 1.0f)) {
    exit_invocation_error(kBadFractionText, option);
  }
  return value;
}

}  // namespace

RunSettings parse_command_line(int argc, const char* const* argv) {
  if (argc < 3) exit_invocation_error(kUsageText, nullptr);

  RunSettings settings{nullptr, 0, 0, kDefaultScoreThreshold, kDefaultNmsThreshold};
  // Options and values come in pairs; a last option without a value is ignored.
  for (int k = 2; k < argc; k += 2) {
    const char* option = argv[k - 1];
    const char* value = argv[k];
    if (std::strcmp(option, "--model") == 0) {
      settings.model_path = value;
    } else if (std::strcmp(option, "--width") == 0) {
      settings.frame_width = parse_positive_whole_number("--width", value);
    } else if (std::strcmp(option, "--height") == 0) {
      settings.frame_height = parse_positive_whole_number("--height", value);
    } else if (std::strcmp(option, "--score") == 0) {
      settings.score_threshold = parse_fraction("--score", value);
    } else if (std::strcmp(option, "--nms") == 0) {
      settings.nms_threshold = parse_fraction("--nms", value);
    } else {
      exit_invocation_error(kUnknownArgumentText, option);
    }
  }
  if (settings.model_path == nullptr || settings.frame_width == 0 || settings.frame_height == 0) {
    exit_invocation_error(kUsageText, nullptr);
  }
  return settings;
}
