#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

RunSettings parse(std::vector<const char*> args) {
  args.insert(args.begin(), "glintbox");
  return parse_command_line(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, AppliesDefaultsAndKeepsTheModelPathPointer) {
  const char* model = "m.onnx";
  RunSettings s = parse({"--model", model, "--width", "640", "--height", "480"});
  EXPECT_EQ(s.model_path, model);
  EXPECT_EQ(s.frame_width, 640);
  EXPECT_EQ(s.frame_height, 480);
  EXPECT_EQ(s.score_threshold, 0.6f);
  EXPECT_EQ(s.nms_threshold, 0.3f);
}

TEST(CommandLine, ParsesAcceptedValueForms) {
  struct Case {
    const char* width;
    int32_t expected_width;
    const char* score;
    float expected_score;
  };
  const Case cases[] = {
      {"+64", 64, "0.999", 0.999f},
      {"  64", 64, ".5", 0.5f},
      {"2147483647", 2147483647, "5e-1", 0.5f},
      {"99999999999", 2147483647, "0x1p-1", 0.5f},  // saturates at the 32-bit limit
  };
  for (const Case& c : cases) {
    RunSettings s =
        parse({"--model", "m", "--width", c.width, "--height", "1", "--score", c.score});
    EXPECT_EQ(s.frame_width, c.expected_width) << c.width;
    EXPECT_EQ(s.score_threshold, c.expected_score) << c.score;
  }
}

TEST(CommandLine, LaterValueWinsAndDanglingOptionIsIgnored) {
  RunSettings s = parse({"--model", "a", "--nms", "0.5", "--width", "3", "--height", "2", "--model",
                         "b", "--nms", "0.25", "--score"});
  EXPECT_STREQ(s.model_path, "b");
  EXPECT_EQ(s.nms_threshold, 0.25f);
  EXPECT_EQ(s.score_threshold, 0.6f);
}

TEST(CommandLine, ValueMayStartWithDashes) {
  RunSettings s = parse({"--model", "--width", "--width", "7", "--height", "9"});
  EXPECT_STREQ(s.model_path, "--width");
  EXPECT_EQ(s.frame_width, 7);
}

// The exact lines and statuses of refusals are checked on the real binary by
// the process tests; these confirm the refusal happens inside the parser.
TEST(CommandLineDeathTest, RefusalsExitWithStatusOne) {
  EXPECT_EXIT(parse({"--model", "m", "--width", "0", "--height", "1"}), testing::ExitedWithCode(1),
              "^glintbox: expected a positive whole number for: --width\n$");
  EXPECT_EXIT(parse({"--model", "m", "--width", "1", "--height", "1", "--score", "nan"}),
              testing::ExitedWithCode(1),
              "^glintbox: expected a number between 0 and 1 for: --score\n$");
  EXPECT_EXIT(parse({"--model", "m"}), testing::ExitedWithCode(1), "^glintbox: usage: ");
}

}  // namespace
