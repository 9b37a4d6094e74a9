#include "vexlo/common/decimal.h"

#include <gtest/gtest.h>

#include <limits>

namespace vexlo {
namespace {

constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
constexpr auto kMax = std::numeric_limits<std::int64_t>::max();

TEST(ParseSignedDecimal, AcceptsOnlySignDigitsWithinRange) {
  const struct {
    std::string_view text;
    std::optional<std::int64_t> value;
  } cases[] = {
      {"0", 0},
      {"5", 5},
      {"+5", 5},
      {"-5", -5},
      {"007", 7},
      {"-0", 0},
      {"+0000000000000000000000000000042", 42},
      {"9223372036854775807", kMax},
      {"-9223372036854775808", kMin},
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775809", std::nullopt},
      {"18446744073709551616", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"+-5", std::nullopt},
      {"--5", std::nullopt},
      {" 5", std::nullopt},
      {"5 ", std::nullopt},
      {"5x", std::nullopt},
      {"1.5", std::nullopt},
      {"1e3", std::nullopt},
      {"0x10", std::nullopt},
      {"-10day", std::nullopt},
      {"\xd9\xa3", std::nullopt},  // a digit outside ASCII
      {std::string_view("1\0", 2), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_signed_decimal(c.text), c.value) << '"' << c.text << '"';
}

TEST(ParseUnsignedDecimal, AcceptsOnlyPlusDigitsWithinRange) {
  const struct {
    std::string_view text;
    std::optional<std::uint64_t> value;
  } cases[] = {
      {"0", 0},
      {"12", 12},
      {"+3", 3},
      {"0012", 12},
      {"18446744073709551615", std::numeric_limits<std::uint64_t>::max()},
      {"018446744073709551615", std::numeric_limits<std::uint64_t>::max()},
      {"18446744073709551616", std::nullopt},
      {"18446744073709551620", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"-3", std::nullopt},
      {"-0", std::nullopt},
      {"++3", std::nullopt},
      {"+", std::nullopt},
      {"", std::nullopt},
      {"--pretty", std::nullopt},
      {"12abc", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_unsigned_decimal(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace
}  // namespace vexlo
