#include "vexlo/common/terminal_text.h"

namespace vexlo {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool is_c1_lead(std::string_view text, std::size_t at) {
  // U+0080 to U+009F are encoded as C2 80 to C2 9F.
  return static_cast<unsigned char>(text[at]) == 0xC2 && at + 1 < text.size() &&
         static_cast<unsigned char>(text[at + 1]) >= 0x80 && static_cast<unsigned char>(text[at + 1]) <= 0x9F;
}

void append_hex_escape(std::string& out, std::string_view prefix, unsigned char byte) {
  out += prefix;
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0xF];
}

}  // namespace

void append_visible(std::string& out, std::string_view text, Controls controls) {
  const bool keep = controls == Controls::KeepTabAndLineFeed;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte != 0x7F && !is_c1_lead(text, i)) {
      out += text[i];
    } else if (byte == '\t') {
      out += keep ? "\t" : "\\t";
    } else if (byte == '\n') {
      out += keep ? "\n" : "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == 0xC2) {
      append_hex_escape(out, "\\u00", static_cast<unsigned char>(text[++i]));
    } else {
      append_hex_escape(out, "\\x", byte);
    }
  }
}

void append_visible_json(std::string& out, std::string_view json_text) {
  for (std::size_t i = 0; i < json_text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(json_text[i]);
    if (byte == 0x7F) {
      out += "\\u007f";
    } else if (is_c1_lead(json_text, i)) {
      append_hex_escape(out, "\\u00", static_cast<unsigned char>(json_text[++i]));
    } else if (byte < 0x20 && byte != '\n') {
      append_hex_escape(out, "\\u00", byte);  // not written by the JSON writer
    } else {
      out += json_text[i];
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
