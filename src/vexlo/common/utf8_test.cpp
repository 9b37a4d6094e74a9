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
