#include "vexlo/common/float_digits.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

namespace vexlo {
namespace {

TEST(ShortestDigits, DigitsAndExponentOfTheFirstDigit) {
  const struct {
    double value;
    std::string_view digits;
    int exponent;
  } cases[] = {
      {0.0, "0", 0},
      {-0.0, "0", 0},
      {1.0, "1", 0},
      {-1234.5, "12345", 3},
      {0.001, "1", -3},
      {0.1, "1", -1},
      {0.3, "3", -1},
      {0.1 + 0.2, "30000000000000004", -1},
      {1e23, "1", 23},
      {123456789012345680.0, "12345678901234568", 17},
      {std::numeric_limits<double>::max(), "17976931348623157", 308},
      {std::numeric_limits<double>::min(), "22250738585072014", -308},
      {std::numeric_limits<double>::denorm_min(), "5", -324},
  };
  for (const auto& c : cases) {
    const FloatDigits digits = shortest_digits(c.value);
    EXPECT_EQ(digits.text(), c.digits) << c.value;
    EXPECT_EQ(digits.exponent, c.exponent) << c.value;
  }
}

// The digits read back as the value, and none of them is a trailing zero.
TEST(ShortestDigits, ReadBackAsTheSameValue) {
  std::mt19937_64 random(11);
  for (int i = 0; i < 100000; ++i) {
    const double value = std::abs(std::bit_cast<double>(random()));
    if (!std::isfinite(value)) continue;
    const FloatDigits digits = shortest_digits(value);
    ASSERT_GE(digits.count, 1u);
    ASSERT_LE(digits.count, 17u);
    const std::string text = std::string(digits.text()) + "e" +
                             std::to_string(digits.exponent - static_cast<int>(digits.count) + 1);
    double read = 0;
    std::from_chars(text.data(), text.data() + text.size(), read);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(read), std::bit_cast<std::uint64_t>(value)) << text;
    ASSERT_TRUE(digits.count == 1 || digits.digits[digits.count - 1] != '0') << text;
  }
}

}  // namespace
}  // namespace vexlo
