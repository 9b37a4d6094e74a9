#include "vexlo/json/memory_needs.h"

#include <gtest/gtest.h>

#include <string>

namespace vexlo::json {
namespace {

TEST(MemoryNeeds, CountsTokensTapeWordsStringsAndChildren) {
  struct Case {
    std::string text;
    MemoryNeeds needs;
  };
  // parsing: 4 bytes a token and one more; document: 8 a tape word (the
  // root's two included) and each string's length + 3; index: 4 a value
  // and a container.
  const Case cases[] = {
      {"[0,0]", {4 * 6, 8 * 8, 4 * 4}},
      {" [ [] , [] ] ", {4 * 8, 8 * 8, 4 * 6}},
      {R"({"a\"b":"x"})", {4 * 6, 8 * 6 + 9 + 6, 4 * 4}},
      {"[true,-1.5e3,null]", {4 * 8, 8 * 8, 4 * 5}},
      {R"(["unterminated)", {4 * 3, 8 * 5 + 16, 4 * 3}},
      // Runs of backslashes, one escaping a quote, that the shifts below
      // carry across the text's pieces of 64 bytes.
      {"[\"" + std::string(60, 'a') + R"(\\\")" + std::string(70, 'b') + R"(\\"])", {4 * 4, 8 * 5 + 141, 4 * 3}},
  };
  for (const Case& c : cases) {
    for (const std::size_t shift : {0, 1, 31, 60, 63, 64, 65, 127}) {
      const std::string text = std::string(shift, ' ') + c.text;
      const MemoryNeeds needs = memory_needs(text);
      EXPECT_EQ(needs.parsing, c.needs.parsing) << text;
      EXPECT_EQ(needs.document, c.needs.document) << text;
      EXPECT_EQ(needs.index, c.needs.index) << text;
    }
  }
}

TEST(MemoryNeeds, TheWorstShapeStaysWithinTheBoundPerByte) {
  // One-digit numbers, each with a comma: the most tokens, tape words and
  // children for the fewest bytes.
  std::string text = "[";
  for (int i = 0; i < 100000; ++i) text += "0,";
  text += "0]";
  const MemoryNeeds needs = memory_needs(text);
  EXPECT_LE(needs.parsing + needs.document + needs.index, kWorstNeedsPerTextByte * text.size());
}

}  // namespace
}  // namespace vexlo::json
