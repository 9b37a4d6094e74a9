#include "vexlo/browse/styled_lines.h"

#include <gtest/gtest.h>

namespace vexlo::browse {
namespace {

TEST(StyledLines, TakesShowsColoursOutOfTheText) {
  using S = Style;
  const struct {
    std::string_view text;
    std::vector<std::string> lines;
    std::vector<std::vector<StyleStart>> starts;
  } cases[] = {
      {"", {}, {}},
      {"a\n\nb", {"a", "", "b"}, {{{0, S::Plain}}, {{0, S::Plain}}, {{0, S::Plain}}}},
      {"\x1b[34;1m\"k\"\x1b[0m: \x1b[0;32m\"v\"\x1b[0m",
       {"\"k\": \"v\""},
       {{{0, S::Key}, {3, S::Plain}, {5, S::String}, {8, S::Plain}}}},
      // A colour goes on to the next line; a sequence of no colour stays.
      {"\x1b[1;39m[\n1,\x1b[1;30mnull\x1b[2J\n",
       {"[", "1,null\x1b[2J"},
       {{{0, S::Bracket}}, {{0, S::Bracket}, {2, S::Null}}}},
  };
  for (const auto& c : cases) {
    const StyledLines styled = styled_lines(c.text);
    EXPECT_EQ(styled.lines, c.lines) << c.text;
    EXPECT_EQ(styled.starts, c.starts) << c.text;
  }
}

}  // namespace
}  // namespace vexlo::browse
