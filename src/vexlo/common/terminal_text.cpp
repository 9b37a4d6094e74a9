#include "vexlo/common/terminal_text.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <utility>

#include "vexlo/common/utf8.h"

namespace vexlo {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void append_hex_escape(std::string& out, std::string_view prefix, unsigned char byte) {
  out += prefix;
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0xF];
}

// Whether the code point, of three bytes in UTF-8, reorders or hides text:
// bidirectional marks, embeddings, overrides and isolates, zero-width
// characters, line and paragraph separators, and the byte-order mark.
bool reorders_or_hides(char32_t c) {
  return (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x2064) ||
         (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

}  // namespace

std::optional<HiddenCharacter> hidden_character_at(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u; };
  if (is_c1_control_at(text, at)) return HiddenCharacter{byte(1), 2};
  if (byte(0) == 0xD8 && byte(1) == 0x9C) return HiddenCharacter{0x061C, 2};
  if ((byte(0) & 0xF0) != 0xE0 || (byte(1) & 0xC0) != 0x80 || (byte(2) & 0xC0) != 0x80) return std::nullopt;
  const char32_t c = ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
  if (!reorders_or_hides(c)) return std::nullopt;
  return HiddenCharacter{c, 3};
}

namespace {

// "\u" and four lower-case hex digits: a JSON escape, readable anywhere.
void append_code_point_escape(std::string& out, char32_t c) {
  append_hex_escape(out, "\\u", static_cast<unsigned char>(c >> 8));
  append_hex_escape(out, "", static_cast<unsigned char>(c & 0xFF));
}

constexpr std::pair<std::uint32_t, std::string_view> kShortBracedEscapes[] = {
    {'\n', "\\n"}, {'\r', "\\r"}, {'\t', "\\t"}, {'\0', "\\0"}};

// Appends the braced escape for a control character (C0, DEL or C1), or
// returns false when the code point is not one.
bool append_braced_escape(std::string& out, std::uint32_t code_point) {
  for (const auto& [character, text] : kShortBracedEscapes) {
    if (code_point == character) {
      out += text;
      return true;
    }
  }
  if (code_point >= 0x20 && (code_point < 0x7F || code_point > 0x9F)) return false;
  char digits[8];
  char* end = std::to_chars(digits, digits + sizeof digits, code_point, 16).ptr;
  out += "\\u{";
  out.append(digits, end);
  out += '}';
  return true;
}

std::string braced(std::string_view text, bool quotes_and_backslashes) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (quotes_and_backslashes && (byte == '"' || byte == '\\')) {
      out += '\\';
      out += text[i];
    } else if (is_c1_control_at(text, i)) {
      // The second byte of a C1 control is its code point.
      append_braced_escape(out, static_cast<unsigned char>(text[i + 1]));
      ++i;
    } else if (byte >= 0x80 || !append_braced_escape(out, byte)) {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::string controls_replaced(std::string_view line) {
  std::string shown;
  shown.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<unsigned char>(line[i]);
    const bool c1 = is_c1_control_at(line, i);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F || c1) {
      shown += "\xEF\xBF\xBD";
      if (c1) ++i;
    } else {
      shown += line[i];
    }
  }
  return shown;
}

std::string braced_escapes(std::string_view text) { return braced(text, false); }

std::string quoted_with_braced_escapes(std::string_view value) { return "\"" + braced(value, true) + "\""; }

void append_visible(std::string& out, std::string_view text, Controls controls) {
  const bool keep = controls == Controls::KeepTabAndLineFeed;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (const auto hidden = hidden_character_at(text, i)) {
      append_code_point_escape(out, hidden->code_point);
      i += hidden->length - 1;
    } else if (byte == '\\') {
      out += "\\\\";  // so that no name looks like an escape
    } else if (byte >= 0x20 && byte != 0x7F) {
      out += text[i];
    } else if (byte == '\t') {
      out += keep ? "\t" : "\\t";
    } else if (byte == '\n') {
      out += keep ? "\n" : "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else {
      append_hex_escape(out, "\\x", byte);
    }
  }
}

std::ostream& operator<<(std::ostream& out, const Shown& shown) {
  if (!shown.terminal) return out << shown.text;
  std::string visible;
  append_visible(visible, shown.text, shown.controls);
  return out << visible;
}

}  // namespace vexlo
