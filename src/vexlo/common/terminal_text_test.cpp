#include "vexlo/common/terminal_text.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vexlo {
namespace {

TEST(TerminalText, ControlCharactersBecomeVisible) {
  const struct {
    std::string in;
    std::string all;   // Controls::EscapeAll
    std::string kept;  // Controls::KeepTabAndLineFeed
  } cases[] = {
      {"plain/path.json", "plain/path.json", "plain/path.json"},
      {"\x1b]0;owned\x07\x1b[2J", "\\x1b]0;owned\\x07\\x1b[2J", "\\x1b]0;owned\\x07\\x1b[2J"},
      {"a\nb\tc\rd", "a\\nb\\tc\\rd", "a\nb\tc\\rd"},
      {std::string("nul\0", 4), "nul\\x00", "nul\\x00"},
      {"del\x7f", "del\\x7f", "del\\x7f"},
      {"csi\xc2\x9b" "2J next\xc2\x85", "csi\\u009b2J next\\u0085", "csi\\u009b2J next\\u0085"},
      // Printable non-ASCII and bytes that are no UTF-8 stay as they are.
      {"\xc2\xa0\xc3\xa9\xe2\x82\xac \xff \xc2", "\xc2\xa0\xc3\xa9\xe2\x82\xac \xff \xc2",
       "\xc2\xa0\xc3\xa9\xe2\x82\xac \xff \xc2"},
      // Backslashes double, so that a name cannot pose as an escaped one.
      {"back\\slash \\x1b", "back\\\\slash \\\\x1b", "back\\\\slash \\\\x1b"},
      // Characters that reorder or hide text; their neighbours stay.
      {"a\u202eexe.json\u200b\u2028\ufeff\u061c\u2066\u2064\u2010",
       "a\\u202eexe.json\\u200b\\u2028\\ufeff\\u061c\\u2066\\u2064\u2010",
       "a\\u202eexe.json\\u200b\\u2028\\ufeff\\u061c\\u2066\\u2064\u2010"},
  };
  for (const auto& c : cases) {
    std::string all, kept;
    append_visible(all, c.in);
    append_visible(kept, c.in, Controls::KeepTabAndLineFeed);
    EXPECT_EQ(all, c.all) << c.in;
    EXPECT_EQ(kept, c.kept) << c.in;
    std::ostringstream terminal, pipe;
    terminal << Shown{c.in, true};
    pipe << Shown{c.in, false};
    EXPECT_EQ(terminal.str(), c.all) << c.in;
    EXPECT_EQ(pipe.str(), c.in) << c.in;
  }
}

TEST(TerminalText, BracedEscapesLeaveQuotesAndBackslashes) {
  EXPECT_EQ(braced_escapes("saw 'tru\n' \"x\\\""), "saw 'tru\\n' \"x\\\"");
}

}  // namespace
}  // namespace vexlo
