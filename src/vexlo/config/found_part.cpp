#include "vexlo/config/found_part.h"

#include <cmath>

#include "vexlo/common/float_digits.h"
#include "vexlo/common/terminal_text.h"

namespace vexlo::config {

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
      return "string " + quoted_with_braced_escapes(node.as_string()->get());
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
