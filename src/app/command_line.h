// The command line: turns argc/argv into the validated run settings.
#pragma once

#include <cstdint>

struct RunSettings {
  const char* model_path;  // borrowed from argv, used unchanged
  int32_t frame_width;     // at least 1
  int32_t frame_height;    // at least 1
  float score_threshold;   // strictly between 0 and 1
  float nms_threshold;     // strictly between 0 and 1
};

constexpr float kDefaultScoreThreshold = 0.6f;
constexpr float kDefaultNmsThreshold = 0.3f;

// Returns only with complete, valid settings; otherwise ends the process with
// an invocation error (status 1).
RunSettings parse_command_line(int argc, const char* const* argv);
