#include "testing/config_message.h"

#include <cstdint>
#include <vector>

namespace vexlo::testing {
namespace {

constexpr std::string_view kPrefix = "parse config error: ";
constexpr std::string_view kHeader = "TOML parse error at line ";

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::size_t count_characters(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text) count += is_continuation(c) ? 0 : 1;
  return count;
}

// A line a terminal can show as it is: no control character but the tab.
bool is_displayable(std::string_view line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<unsigned char>(line[i]);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return false;
    if (byte == 0xC2 && i + 1 < line.size() && static_cast<unsigned char>(line[i + 1]) <= 0x9F) return false;
  }
  return true;
}

// A positive decimal without leading zeros.
bool read_number(std::string_view& text, std::uint64_t& value) {
  std::size_t digits = 0;
  value = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9' && digits < 10) {
    value = value * 10 + static_cast<std::uint64_t>(text[digits] - '0');
    ++digits;
  }
  if (digits == 0 || text[0] == '0') return false;
  text.remove_prefix(digits);
  return true;
}

// Line `number` (1-based) of the text without its line ending, or false when
// the text has fewer lines.
bool line_of(std::string_view text, std::uint64_t number, std::string_view& line) {
  for (std::uint64_t i = 1; i < number; ++i) {
    const auto newline = text.find('\n');
    if (newline == std::string_view::npos) return false;
    text.remove_prefix(newline + 1);
  }
  line = text.substr(0, text.find('\n'));
  if (line.ends_with('\r')) line.remove_suffix(1);
  return true;
}

std::string check_positioned(const std::vector<std::string_view>& lines, std::string_view file_text) {
  if (lines.size() != 5) return "a positioned error has five lines";
  std::string_view header = lines[0].substr(kHeader.size());
  std::uint64_t line_number = 0, column = 0;
  if (!read_number(header, line_number) || !header.starts_with(", column ")) return "malformed header line";
  header.remove_prefix(std::string_view(", column ").size());
  if (!read_number(header, column) || !header.empty()) return "malformed column in the header";
  const std::string number_text = std::to_string(line_number);
  const std::string gutter = std::string(number_text.size() + 1, ' ') + "|";
  if (lines[1] != gutter) return "malformed gutter line";
  const std::string source_prefix = number_text + " | ";
  if (!lines[2].starts_with(source_prefix)) return "the source line does not carry its number";
  const std::string_view shown = lines[2].substr(source_prefix.size());
  if (!is_displayable(shown)) return "the source line holds control characters";
  const std::string_view carets = lines[3].substr(std::min(lines[3].size(), gutter.size() + column));
  if (lines[3].substr(0, gutter.size()) != gutter ||
      lines[3].substr(gutter.size(), column) != std::string(column, ' ') || carets.empty() ||
      carets.find_first_not_of('^') != std::string_view::npos) {
    return "malformed caret line";
  }
  if (lines[4].empty() || !is_displayable(lines[4])) return "malformed message line";

  if (file_text.starts_with("\xEF\xBB\xBF")) file_text.remove_prefix(3);
  std::string_view source;
  if (!line_of(file_text, line_number, source)) return "the line number lies beyond the file";
  const std::size_t characters = count_characters(source);
  if (count_characters(shown) != characters) return "the source line differs from the file's line";
  if (column > characters + 1) return "the column lies beyond the end of the line";
  std::size_t offset = 0;
  for (std::uint64_t seen = 1; seen < column; ++seen) {
    ++offset;
    while (offset < source.size() && is_continuation(source[offset])) ++offset;
  }
  if (carets.size() > 1 && carets.size() > source.size() - offset) return "the carets run past the end of the line";
  return {};
}

std::string check_unpositioned(const std::vector<std::string_view>& lines) {
  if (lines.empty() || lines.size() > 2) return "an error without position has one or two lines";
  if (lines[0].empty() || !is_displayable(lines[0])) return "malformed message line";
  if (lines.size() == 2) {
    const std::string_view path = lines[1];
    if (!path.starts_with("in `") || !path.ends_with("`") || path.size() < 5 || !is_displayable(path)) {
      return "malformed key path line";
    }
  }
  return {};
}

}  // namespace

std::string check_config_message(std::string_view output, std::string_view file_text) {
  if (!output.starts_with(kPrefix)) return "the report does not start with \"parse config error: \"";
  if (!output.ends_with("\n\n")) return "the report does not end with an empty line";
  std::string_view body = output.substr(kPrefix.size());
  body.remove_suffix(1);  // the tool's own newline after the error text
  std::vector<std::string_view> lines;
  while (!body.empty()) {
    const auto newline = body.find('\n');
    if (newline == std::string_view::npos) return "a line without its newline";
    lines.push_back(body.substr(0, newline));
    body.remove_prefix(newline + 1);
  }
  if (!lines.empty() && lines[0].starts_with(kHeader)) return check_positioned(lines, file_text);
  return check_unpositioned(lines);
}

std::string check_positioned_config_message(std::string_view output, std::string_view file_text) {
  if (!output.starts_with(std::string(kPrefix) + std::string(kHeader))) return "the error carries no position";
  return check_config_message(output, file_text);
}

}  // namespace vexlo::testing
