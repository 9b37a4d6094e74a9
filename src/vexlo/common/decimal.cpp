#include "vexlo/common/decimal.h"

#include <limits>

namespace vexlo {
namespace {

// One or more ASCII digits whose value does not exceed `max`.
std::optional<std::uint64_t> parse_digits(std::string_view digits, std::uint64_t max) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

std::optional<std::int64_t> parse_signed_decimal(std::string_view text) {
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // The negative range reaches one further than the positive one.
  const auto magnitude = parse_digits(text, negative ? kMax + 1 : kMax);
  if (!magnitude) return std::nullopt;
  if (!negative) return static_cast<std::int64_t>(*magnitude);
  if (*magnitude == kMax + 1) return std::numeric_limits<std::int64_t>::min();
  return -static_cast<std::int64_t>(*magnitude);
}

std::optional<std::uint64_t> parse_unsigned_decimal(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  return parse_digits(text, std::numeric_limits<std::uint64_t>::max());
}

}  // namespace vexlo
