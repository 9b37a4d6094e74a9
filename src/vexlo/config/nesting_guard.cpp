#include "vexlo/config/nesting_guard.h"

#include <cstdint>
#include <string>

#include "vexlo/common/utf8.h"

namespace vexlo::config {
namespace {

enum class Region { Plain, Comment, BasicString, LiteralString, MultiLineBasic, MultiLineLiteral };

size_t run_of(std::string_view text, size_t at, char c) {
  size_t end = at;
  while (end < text.size() && text[end] == c) ++end;
  return end - at;
}

// Takes the bytes at `at` that belong together (one character, an escape, a
// run of quotes), moving into or out of strings and comments; returns how
// many bytes it took.
size_t step(std::string_view text, size_t at, Region& region) {
  const char c = text[at];
  switch (region) {
    case Region::Plain:
      if (c == '#') region = Region::Comment;
      if (c == '"' || c == '\'') {
        const size_t quotes = run_of(text, at, c);
        if (quotes >= 3) {
          region = c == '"' ? Region::MultiLineBasic : Region::MultiLineLiteral;
          return 3;
        }
        if (quotes == 2) return 2;  // an empty string
        region = c == '"' ? Region::BasicString : Region::LiteralString;
      }
      return 1;
    case Region::BasicString:
    case Region::MultiLineBasic:
      if (c == '\\' && at + 1 < text.size() && text[at + 1] != '\n') return 2;
      [[fallthrough]];
    case Region::LiteralString:
    case Region::MultiLineLiteral: {
      const char quote = region == Region::BasicString || region == Region::MultiLineBasic ? '"' : '\'';
      if (c != quote) return 1;
      const bool multi_line = region == Region::MultiLineBasic || region == Region::MultiLineLiteral;
      const size_t quotes = run_of(text, at, quote);
      if (!multi_line) {
        region = Region::Plain;
        return 1;
      }
      if (quotes < 3) return quotes;
      // Up to two quotes before the closing three belong to the string.
      region = Region::Plain;
      return quotes;
    }
    case Region::Comment:
      return 1;
  }
  return 1;
}

}  // namespace

std::optional<ConfigError> find_excessive_nesting(std::string_view text) {
  Region region = Region::Plain;
  std::uint32_t line = 1, column = 1;
  size_t dots = 0;
  size_t at = 0;
  while (at < text.size()) {
    if (text[at] == '\n') {
      // Only multi-line strings go on past the end of a line.
      if (region != Region::MultiLineBasic && region != Region::MultiLineLiteral) region = Region::Plain;
      ++line;
      column = 1;
      dots = 0;
      ++at;
      continue;
    }
    if (region == Region::Plain && text[at] == '.' && ++dots > kMaxDotsPerLine) {
      return ConfigError{"nesting too deep: more than " + std::to_string(kMaxDotsPerLine) +
                             " dots on one line outside strings and comments",
                         SourceSpan{line, column, line, column + 1},
                         {}};
    }
    const size_t consumed = step(text, at, region);
    for (size_t i = at; i < at + consumed && i < text.size(); ++i) {
      if (!is_continuation_byte(text[i])) ++column;
    }
    at += consumed;
  }
  return std::nullopt;
}

}  // namespace vexlo::config
