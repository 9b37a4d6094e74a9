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
  // and a container; ordering: 24 a member.
  const Case cases[] = {
      {"[0,0]", {4 * 6, 8 * 8, 4 * 4}},
      {" [ [] , [] ] ", {4 * 8, 8 * 8, 4 * 6}},
      {R"({"a\"b":"x"})", {4 * 6, 8 * 6 + 9 + 6, 4 * 4, 24}},
      {R"([{"a":{"b:":0},"c":[]}])", {4 * 17, 8 * 15 + 6 + 7 + 6, 4 * 12, 24 * 3}},
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
      EXPECT_EQ(needs.ordering, c.needs.ordering) << text;
    }
  }
}

TEST(MemoryNeeds, TheWorstShapesStayWithinTheBoundPerByte) {
  // The fewest bytes for the most tokens, tape words, children and members.
  const struct {
    const char* part;
    const char* open;
    const char* close;
  } shapes[] = {
      {"0,", "[", "0]"},
      {"[],", "[", "[]]"},
      {R"({"":0},)", "[", "{}]"},
      {R"("":0,)", "{", R"("":0})"},
      {R"("":{},)", "{", R"("":0})"},
  };
  for (const auto& shape : shapes) {
    std::string text = shape.open;
    for (int i = 0; i < 100000; ++i) text += shape.part;
    text += shape.close;
    const MemoryNeeds needs = memory_needs(text);
    EXPECT_LE(needs.parsing + needs.document + needs.index + needs.ordering, kWorstNeedsPerTextByte * text.size())
        << shape.part;
  }
}

}  // namespace
}  // namespace vexlo::json
