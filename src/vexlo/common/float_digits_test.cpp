#include "vexlo/common/float_digits.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
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

// Numbers of few decimals, as logs hold them, get the library's shortest
// scientific digits.
TEST(ShortestDigits, FewDecimalsAsTheLibraryGivesThem) {
  std::mt19937_64 random(5);
  for (int i = 0; i < 200000; ++i) {
    const double value = static_cast<double>(random() % 2000000000000000) / std::pow(10.0, random() % 22);
    char text[64];
    const std::string_view scientific(text, std::to_chars(text, text + 64, value, std::chars_format::scientific).ptr);
    const FloatDigits digits = shortest_digits(value);
    std::string expected(digits.text().substr(0, 1));
    if (digits.count > 1) expected += "." + std::string(digits.text().substr(1));
    const int exponent = std::abs(digits.exponent);
    expected += (digits.exponent < 0 ? "e-" : "e+") + std::string(exponent < 10 ? "0" : "") + std::to_string(exponent);
    ASSERT_EQ(expected, scientific);
  }
}

}  // namespace
}  // namespace vexlo
