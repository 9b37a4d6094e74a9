#include "vexlo/json/number_literals.h"

#include <gtest/gtest.h>

namespace vexlo::json {
namespace {

TEST(NegativeZero, OrdinalsCountOnlyNumbersOutsideStrings) {
  const struct {
    const char* text;
    bool may_hold;
    std::vector<std::size_t> ordinals;
  } cases[] = {
      {"[0, 1, 2]", false, {}},
      {"-0", true, {0}},
      {"[-0.5, -05, -0e1, -01]", false, {}},
      {R"(["2024-01-05", 1])", false, {}},
      {R"(["a -0 b", 1, -0])", true, {1}},
      {R"(["\"", -0, "\\", -0, 3])", true, {0, 1}},
      {R"({"-0": -0, "b": [true, -0]})", true, {0, 1}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(may_hold_negative_zero(c.text), c.may_hold) << c.text;
    EXPECT_EQ(negative_zero_ordinals(c.text), c.ordinals) << c.text;
  }
}

TEST(RewriteHugeIntegers, OnlyIntegersBeyondBothRangesChange) {
  const struct {
    const char* text;
    const char* rewritten;  // nullptr: nothing to rewrite
  } cases[] = {
      {"[1, -1, 18446744073709551615, -9223372036854775808]", nullptr},
      {"[1e400, 1.5]", nullptr},
      // Not JSON integers: left for the parser to reject.
      {"[0123456789012345678901, -012345678901234567890]", nullptr},
      {"[--99999999999999999999, 99999999999999999999., 99999999999999999999e]", nullptr},
      {"18446744073709551616", "1.8446744073709552e+19"},
      {"[-9223372036854775809,\"18446744073709551616\"]", "[-9.223372036854776e+18,\"18446744073709551616\"]"},
      {R"({"a\"": 100000000000000000000000})", R"({"a\"": 1e+23})"},
  };
  for (const auto& c : cases) {
    auto result = rewrite_huge_integers(c.text);
    if (c.rewritten == nullptr) {
      ASSERT_FALSE(result) << c.text;
      EXPECT_EQ(result.error(), RewriteFailure::NothingToRewrite) << c.text;
    } else {
      ASSERT_TRUE(result) << c.text;
      EXPECT_EQ(*result, c.rewritten);
    }
  }
  auto overflow = rewrite_huge_integers("[1, " + std::string(400, '9') + "]");
  ASSERT_FALSE(overflow);
  EXPECT_EQ(overflow.error(), RewriteFailure::Overflow);
}

}  // namespace
}  // namespace vexlo::json
