#pragma once
// The shortest decimal digits of a double: what both the JSON writer and the
// configuration messages build their number texts from.

#include <cstddef>
#include <string_view>

namespace vexlo {

// The shortest digits that read back as the same value, and the decimal
// exponent of the first of them: 1234.5 gives "12345" and 3, 0.001 gives
// "1" and -3, 0 gives "0" and 0.
struct FloatDigits {
  char digits[32];
  std::size_t count = 0;
  int exponent = 0;

  std::string_view text() const { return {digits, count}; }
};

// The digits of a finite double's magnitude; the sign is the caller's.
FloatDigits shortest_digits(double value);

}  // namespace vexlo
