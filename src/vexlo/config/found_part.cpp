#include "vexlo/config/found_part.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <utility>

#include "vexlo/common/float_digits.h"
#include "vexlo/common/utf8.h"

namespace vexlo::config {
namespace {

constexpr std::pair<std::uint32_t, std::string_view> kShortEscapes[] = {
    {'\n', "\\n"}, {'\r', "\\r"}, {'\t', "\\t"}, {'\0', "\\0"}};

// Appends the escape for a control character (C0, DEL or C1), or returns
// false when the code point is not one.
bool append_control_escape(std::string& out, std::uint32_t code_point) {
  for (const auto& [character, text] : kShortEscapes) {
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

std::string escaped(std::string_view text, bool quotes_and_backslashes) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (quotes_and_backslashes && (byte == '"' || byte == '\\')) {
      out += '\\';
      out += text[i];
    } else if (is_c1_control_at(text, i)) {
      // The second byte of a C1 control is its code point.
      append_control_escape(out, static_cast<unsigned char>(text[i + 1]));
      ++i;
    } else if (byte >= 0x80 || !append_control_escape(out, byte)) {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::string quote_string(std::string_view value) { return "\"" + escaped(value, true) + "\""; }

std::string escape_controls(std::string_view text) { return escaped(text, false); }

std::string float_text(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  // The shortest digits that read back as the same value, written out
  // without an exponent: 1e23 as 100000000000000000000000.0.
  const FloatDigits shortest = shortest_digits(value);
  const std::string digits(shortest.text());
  const int exponent = shortest.exponent;
  std::string text = std::signbit(value) ? "-" : "";
  const int count = static_cast<int>(digits.size());
  if (exponent >= count - 1) {
    text += digits + std::string(static_cast<size_t>(exponent - (count - 1)), '0') + ".0";
  } else if (exponent >= 0) {
    text +=
        digits.substr(0, static_cast<size_t>(exponent) + 1) + "." + digits.substr(static_cast<size_t>(exponent) + 1);
  } else {
    text += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  }
  return text;
}

std::string found_part(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string:
      return "string " + quote_string(node.as_string()->get());
    case toml::node_type::integer:
      return "integer `" + std::to_string(node.as_integer()->get()) + "`";
    case toml::node_type::floating_point:
      return "floating point `" + float_text(node.as_floating_point()->get()) + "`";
    case toml::node_type::boolean:
      return node.as_boolean()->get() ? "boolean `true`" : "boolean `false`";
    case toml::node_type::array:
      return "sequence";
    default:
      // Tables, and dates and times, which messages present as maps.
      return "map";
  }
}

}  // namespace vexlo::config
