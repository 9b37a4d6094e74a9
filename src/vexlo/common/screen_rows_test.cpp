#include "vexlo/common/screen_rows.h"

#include <gtest/gtest.h>

#include <string>

namespace vexlo {
namespace {

TEST(ScreenRows, CountsLinesWrapsAndTabsButNotColourSequences) {
  const struct {
    std::string text;
    int columns;
    std::size_t rows;
  } cases[] = {
      {"", 80, 0},
      {"a", 80, 1},
      {"a\nb\n", 80, 2},
      {"\n\n\n", 80, 3},
      {std::string(80, 'x') + "\n", 80, 1},
      {std::string(81, 'x') + "\n", 80, 2},
      {std::string(160, 'x'), 80, 2},
      {"\x1b[34;1m\"key\"\x1b[0m: 1\n", 8, 1},
      {"\x1b[34;1m\"key\"\x1b[0m: 12\n", 8, 2},
      {"\t\tx\n", 16, 2},
      {"\tx\n", 16, 1},
      {"\xc3\xa9\xc3\xa9\xc3\xa9\n", 3, 1},
      {"abc", 0, 3},
  };
  for (const auto& c : cases) {
    ScreenRows rows(c.columns);
    // Fed in two parts, split inside a sequence or character where there is one.
    const std::size_t half = c.text.size() / 2;
    rows.add(std::string_view(c.text).substr(0, half));
    rows.add(std::string_view(c.text).substr(half));
    EXPECT_EQ(rows.rows(), c.rows) << c.text << " at " << c.columns;
  }
}

}  // namespace
}  // namespace vexlo
