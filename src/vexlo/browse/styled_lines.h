#pragma once
// The preview's text as the view keeps it: plain lines, which a search
// looks through, and apart from them where each colour of show's JSON
// begins, which the screen turns into its own colours.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vexlo::browse {

enum class Style : unsigned char { Plain, Key, String, Null, Bracket };

struct StyleStart {
  std::size_t at = 0;  // a byte of the line's text
  Style style = Style::Plain;
  bool operator==(const StyleStart&) const = default;
};

struct StyledLines {
  std::vector<std::string> lines;
  // Per line, where each style begins: the first at 0, in the style the
  // line before ended in unless a sequence stands there.
  std::vector<std::vector<StyleStart>> starts;
};

// Splits `text` into lines and takes the colour sequences of
// common/colour.h out of it, each one the start of a style. Any other
// escape byte stays in the text, to be shown escaped as any control
// character.
StyledLines styled_lines(std::string_view text);

}  // namespace vexlo::browse
