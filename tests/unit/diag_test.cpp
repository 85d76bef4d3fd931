#include "diag/diag.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FoldIntoOneLine, RuntimeTextBecomesOneLine) {
  struct Case {
    const char* text;
    const char* folded;
  };
  const Case cases[] = {
      {"plain text", "plain text"},
      {"Load model failed: no graph.\n\n", "Load model failed: no graph."},
      {"first\r\nsecond\nthird", "first  second third"},
      {"\n", ""},
      {"", ""},
      {"trailing \t \n", "trailing"},
  };
  for (const Case& c : cases) {
    std::string out(std::string(c.text).size() + 1, 'x');
    fold_into_one_line(c.text, &out[0]);
    EXPECT_STREQ(out.c_str(), c.folded) << c.text;
  }
}

TEST(DiagDeathTest, MessageShapes) {
  EXPECT_EXIT(exit_fatal(kOutOfMemoryText), testing::ExitedWithCode(2),
              "^glintbox: out of memory\n$");
  EXPECT_EXIT(exit_fatal(kOutputDoesNotFitText, "obj_16"), testing::ExitedWithCode(2),
              "^glintbox: the model output does not fit the input: obj_16\n$");
  EXPECT_EXIT(exit_invocation_error(kUnknownArgumentText, "--size"), testing::ExitedWithCode(1),
              "^glintbox: unknown argument: --size\n$");
}

}  // namespace
