#include "vexlo/common/utf8.h"

#include <gtest/gtest.h>

namespace vexlo {
namespace {

TEST(Utf8Lossy, ReplacesEachMaximalIllFormedSubsequence) {
  const struct {
    std::string_view in;
    std::string_view out;
  } cases[] = {
      {"plain", "plain"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},
      {"a\xff" "b", "a\xEF\xBF\xBD" "b"},
      {"\xe2\x82", "\xEF\xBF\xBD"},                      // truncated three-byte sequence
      {"\xe2\x82x", "\xEF\xBF\xBDx"},
      {"\xc0\xaf", "\xEF\xBF\xBD\xEF\xBF\xBD"},          // overlong: two replacements
      {"\xed\xa0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(to_utf8_lossy(c.in), c.out);
    EXPECT_EQ(is_valid_utf8(c.in), c.in == c.out);
  }
}

TEST(Utf8Bytes, ContinuationBytesAndC1Controls) {
  const std::string_view text = "a\xC3\xA9\xC2\x80\xC2\x9F\xC2\xA0\xC2\xC2";
  const bool continuation[] = {false, false, true, false, true, false, true, false, true, false, false};
  const bool c1[] = {false, false, false, true, false, true, false, false, false, false, false};
  ASSERT_EQ(text.size(), std::size(continuation));
  for (std::size_t i = 0; i < text.size(); ++i) {
    EXPECT_EQ(is_continuation_byte(text[i]), continuation[i]) << i;
    EXPECT_EQ(is_c1_control_at(text, i), c1[i]) << i;
  }
  // A lead byte at the end has no second byte to be a control with.
  EXPECT_FALSE(is_c1_control_at("\xC2", 0));
  EXPECT_FALSE(is_c1_control_at("\xC2\x80", 2));
}

TEST(Utf8, WithoutPartialLastCharacter) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"abc", "abc"},
      {"a\xc3", "a"},
      {"a\xc3\xa9", "a\xc3\xa9"},
      {"a\xe2\x82", "a"},
      {"a\xf0\x9f\x98", "a"},
      {"a\xf0\x9f\x98\x80", "a\xf0\x9f\x98\x80"},
      {"a\xff", "a\xff"},  // no lead byte: invalid, left for the check
  };
  for (const auto& c : cases) EXPECT_EQ(without_partial_last_character(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace vexlo
