#include "diag/diag.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string folded(const char* text) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  write_folded_text(out, text);
  std::fclose(out);
  std::string result(buffer, size);
  std::free(buffer);
  return result;
}

// Runtime messages and echoed arguments can hold line breaks; the diagnostic
// must still be one line.
TEST(FoldedText, KeepsTheDiagnosticOnOneLine) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"plain text, two  spaces", "plain text, two  spaces"},
      {"", ""},
      {"ModelProto does not have a graph.\n\n", "ModelProto does not have a graph."},
      {"indices\n index: 1 Got: 3\n Please fix", "indices index: 1 Got: 3 Please fix"},
      {"--mo\ndel", "--mo del"},
      {"a\r\nb\tc\177d\x1b[31m", "a b c d [31m"},
      {"\nleading", " leading"},
      {"trailing  ", "trailing  "},
      {"trailing \n ", "trailing"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},  // UTF-8 passes unchanged
  };
  for (const Case& c : cases) EXPECT_EQ(folded(c.text), c.expected) << c.text;
}

}  // namespace
