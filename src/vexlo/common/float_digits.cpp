#include "vexlo/common/float_digits.h"

#include <charconv>
#include <cmath>

namespace vexlo {

FloatDigits shortest_digits(double value) {
  char text[64];
  const auto written = std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific);
  const std::string_view scientific(text, static_cast<std::size_t>(written.ptr - text));
  // "d.ddde+xx" or "de+xx"
  const std::size_t e = scientific.find('e');
  FloatDigits digits;
  for (std::size_t i = 0; i < e; ++i) {
    if (scientific[i] != '.') digits.digits[digits.count++] = scientific[i];
  }
  const char* exponent_begin = scientific.data() + e + 1;
  if (*exponent_begin == '+') ++exponent_begin;
  std::from_chars(exponent_begin, scientific.data() + scientific.size(), digits.exponent);
  return digits;
}

}  // namespace vexlo
