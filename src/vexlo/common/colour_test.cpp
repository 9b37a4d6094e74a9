#include "vexlo/common/colour.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace vexlo {
namespace {

TEST(Colour, AutoColoursATerminalUnlessNoColourIsSet) {
  for (const bool terminal : {false, true}) {
    for (const bool no_colour : {false, true}) {
      EXPECT_TRUE(uses_colour(ColourChoice::Always, terminal, no_colour));
      EXPECT_FALSE(uses_colour(ColourChoice::Never, terminal, no_colour));
      EXPECT_EQ(uses_colour(ColourChoice::Auto, terminal, no_colour), terminal && !no_colour);
    }
  }
}

// Whole or a byte at a time, JSON comes out coloured by kind, its own bytes
// unchanged between the colours.
TEST(Colour, JsonIsColouredByKindInPiecesOfAnySize) {
  const std::string json = R"({"a\"": [1, "x:", null, true], "b": -1.5e3})";
  const std::string k = "\x1b[34;1m", s = "\x1b[0;32m", p = "\x1b[0;39m", n = "\x1b[1;30m", b = "\x1b[1;39m",
                    r = "\x1b[0m";
  const std::string expected = b + "{" + r + k + R"("a\"")" + r + ": " + b + "[" + r + p + "1" + r + ", " + s +
                               R"("x:")" + r + ", " + n + "null" + r + ", " + p + "true" + r + b + "]" + r + ", " +
                               k + R"("b")" + r + ": " + p + "-1.5e3" + r + b + "}" + r;
  for (const bool bytewise : {false, true}) {
    std::ostringstream out;
    JsonColourBuffer buffer(out);
    std::ostream coloured(&buffer);
    if (bytewise) {
      for (const char c : json) coloured.put(c);
    } else {
      coloured << json;
    }
    buffer.finish();
    EXPECT_EQ(out.str(), expected) << bytewise;
  }
}

}  // namespace
}  // namespace vexlo
