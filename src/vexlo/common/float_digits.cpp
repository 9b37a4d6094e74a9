#include "vexlo/common/float_digits.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>

namespace vexlo {
namespace {

// The digits as the library's shortest scientific form gives them.
FloatDigits digits_by_library(double magnitude) {
  char text[64];
  const auto written = std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific);
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

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// Most numbers in logs have few digits (3669.82, 0.5): the fewest decimals
// k for which the integer nearest to magnitude * 10^k, divided by 10^k,
// reads back as the magnitude. Below 10^12 that product lies within a
// thousandth of the decimal it stands for, so the nearest integer is the
// only candidate with k decimals, and the division, exact operands
// correctly rounded, is what reading the digits back gives. Beyond, the
// library decides.
std::optional<FloatDigits> digits_of_few_decimals(double magnitude) {
  if (!(magnitude > 0)) return std::nullopt;
  for (std::size_t k = 0; k < std::size(kPowersOfTen); ++k) {
    const double scaled = magnitude * kPowersOfTen[k];
    if (!(scaled < 1e12)) return std::nullopt;
    // Positive and below 10^12: adding a half and dropping the fraction
    // gives the nearest integer (or, at a tie, one the check refuses).
    auto integer = static_cast<std::uint64_t>(scaled + 0.5);
    if (static_cast<double>(integer) / kPowersOfTen[k] != magnitude) continue;
    int exponent = -static_cast<int>(k);
    for (; integer % 10 == 0; integer /= 10) ++exponent;  // only when k is 0
    FloatDigits digits;
    char* end = std::to_chars(digits.digits, digits.digits + sizeof digits.digits, integer).ptr;
    digits.count = static_cast<std::size_t>(end - digits.digits);
    digits.exponent = exponent + static_cast<int>(digits.count) - 1;
    return digits;
  }
  return std::nullopt;
}

}  // namespace

FloatDigits shortest_digits(double value) {
  const double magnitude = std::fabs(value);
  if (const auto digits = digits_of_few_decimals(magnitude)) return *digits;
  return digits_by_library(magnitude);
}

}  // namespace vexlo
