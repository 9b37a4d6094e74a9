#include "vexlo/config/config_error.h"

#include <algorithm>
#include <cstddef>

#include "vexlo/common/terminal_text.h"
#include "vexlo/common/utf8.h"

namespace vexlo::config {
namespace {

// Line `number` (1-based) of the text without its line ending; empty when
// the text has fewer lines.
std::string_view line_at(std::string_view text, std::uint32_t number) {
  for (std::uint32_t line = 1; line < number; ++line) {
    const size_t newline = text.find('\n');
    if (newline == std::string_view::npos) return {};
    text.remove_prefix(newline + 1);
  }
  text = text.substr(0, text.find('\n'));
  if (text.ends_with('\r')) text.remove_suffix(1);
  return text;
}

// Byte offset of a 1-based character column, at most the line's length.
size_t byte_offset(std::string_view line, std::uint32_t column) {
  size_t offset = 0;
  for (std::uint32_t seen = 1; seen < column && offset < line.size(); ++seen) {
    ++offset;
    while (offset < line.size() && is_continuation_byte(line[offset])) ++offset;
  }
  return offset;
}

// One caret per byte of the span on its first line, at least one.
size_t caret_count(std::string_view line, const SourceSpan& span) {
  const size_t begin = byte_offset(line, span.begin_column);
  const size_t end = span.end_line == span.begin_line ? byte_offset(line, span.end_column) : line.size();
  return end > begin ? end - begin : 1;
}

bool has_line(std::string_view text, std::uint32_t number) {
  return number <= 1 || static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= number - 1;
}

// The parser may place a position one column past the newline that ends a
// line, as it does at the end of a file that ends with a newline. Counted
// by newlines before it, that position is the start of the next line.
SourceSpan within_its_line(std::string_view text, SourceSpan span) {
  const std::string_view line = line_at(text, span.begin_line);
  const auto characters = static_cast<std::uint32_t>(
      std::count_if(line.begin(), line.end(), [](char c) { return !is_continuation_byte(c); }));
  if (span.begin_column <= characters + 1) return span;
  if (has_line(text, span.begin_line + 1)) return SourceSpan{span.begin_line + 1, 1, span.begin_line + 1, 1};
  return SourceSpan{span.begin_line, characters + 1, span.begin_line, characters + 1};
}

std::string positioned(std::string_view text, const ConfigError& error, const SourceSpan& parser_span) {
  const SourceSpan span = within_its_line(text, parser_span);
  const std::string line_number = std::to_string(span.begin_line);
  const std::string gutter(line_number.size() + 1, ' ');
  const std::string_view line = line_at(text, span.begin_line);
  std::string rendered =
      "TOML parse error at line " + line_number + ", column " + std::to_string(span.begin_column) + "\n";
  rendered += gutter + "|\n";
  rendered += line_number + " | " + controls_replaced(line) + "\n";
  rendered += gutter + "|" + std::string(span.begin_column, ' ') + std::string(caret_count(line, span), '^') + "\n";
  rendered += error.message + "\n";
  return rendered;
}

std::string unpositioned(const ConfigError& error) {
  std::string rendered = error.message + "\n";
  if (error.key_path.empty()) return rendered;
  std::string joined;
  for (const std::string& key : error.key_path) {
    if (!joined.empty()) joined += '.';
    joined += braced_escapes(key);
  }
  return rendered + "in `" + joined + "`\n";
}

}  // namespace

ConfigError below_key(ConfigError error, std::string_view key) {
  error.key_path.insert(error.key_path.begin(), std::string(key));
  return error;
}

std::string render_config_error(std::string_view text, const ConfigError& error) {
  if (error.span) return positioned(text, error, *error.span);
  return unpositioned(error);
}

}  // namespace vexlo::config
