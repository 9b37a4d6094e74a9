#include "vexlo/browse/words.h"

#include <gtest/gtest.h>

namespace vexlo::browse {
namespace {

using Words = std::vector<std::string>;

TEST(SplitWords, TakesWordsAsAShellQuotesThem) {
  const struct {
    std::string_view line;
    Words words;
  } cases[] = {
      {"", {}},
      {"  a \t b  ", {"a", "b"}},
      {"--where 'a b=c d'", {"--where", "a b=c d"}},
      {R"("x\"y\\z\n")", {R"(x"y\z\n)"}},
      {R"(a\ b \'c)", {"a b", "'c"}},
      {"''", {""}},
      {"a'b'\"c\"", {"abc"}},
      {"'open ended", {"open ended"}},
      {"trailing\\", {"trailing\\"}},
      {"'$(x)' `y` *", {"$(x)", "`y`", "*"}},  // nothing is expanded
  };
  for (const auto& c : cases) EXPECT_EQ(split_words(c.line), c.words) << c.line;
}

TEST(JoinedWords, ReadBackAsTheSameWords) {
  const Words cases[] = {{}, {"a", "b"}, {""}, {"a b", "it's", "\"q\"", "back\\slash", "\t"}, {"--where", "k~v w"}};
  for (const Words& words : cases) EXPECT_EQ(split_words(joined_words(words)), words) << joined_words(words);
  EXPECT_EQ(joined_words(Words{"shutdown/unsafe", "--all"}), "shutdown/unsafe --all");
}

}  // namespace
}  // namespace vexlo::browse
