#include "vexlo/config/found_part.h"

#include <gtest/gtest.h>

#include <limits>

namespace vexlo::config {
namespace {

TEST(FoundPart, NamesEveryKindOfValue) {
  const struct {
    const char* value;  // as written after "v = "
    const char* found;
  } cases[] = {
      {R"("yes")", R"(string "yes")"},
      {R"('C:\dir')", R"(string "C:\\dir")"},
      {R"("say \"hi\"")", R"(string "say \"hi\"")"},
      {R"("a\tb\nc\r\u0000\u001b\u007f\u0085")", R"(string "a\tb\nc\r\0\u{1b}\u{7f}\u{85}")"},
      {R"("é ☃")", R"(string "é ☃")"},
      {"0", "integer `0`"},
      {"-9223372036854775808", "integer `-9223372036854775808`"},
      {"0x10", "integer `16`"},
      {"5.0", "floating point `5.0`"},
      {"5e0", "floating point `5.0`"},
      {"-0.0", "floating point `-0.0`"},
      {"0.1", "floating point `0.1`"},
      {"1e20", "floating point `100000000000000000000.0`"},
      {"1e23", "floating point `100000000000000000000000.0`"},
      {"-12.5e1", "floating point `-125.0`"},
      {"123.456", "floating point `123.456`"},
      {"1.5e-7", "floating point `0.00000015`"},
      {"inf", "floating point `inf`"},
      {"-inf", "floating point `-inf`"},
      {"nan", "floating point `NaN`"},
      {"-nan", "floating point `NaN`"},
      {"true", "boolean `true`"},
      {"false", "boolean `false`"},
      {"[]", "sequence"},
      {"[[1], {a = 1}]", "sequence"},
      {"{}", "map"},
      {"{a = 1}", "map"},
      {"1979-05-27T07:32:00Z", "map"},
      {"1979-05-27T07:32:00", "map"},
      {"1979-05-27", "map"},
      {"07:32:00", "map"},
  };
  for (const auto& c : cases) {
    const toml::table document = toml::parse(std::string("v = ") + c.value);
    EXPECT_EQ(found_part(*document.get("v")), c.found) << c.value;
  }
}

TEST(FoundPart, TableHeaderAndArrayOfTables) {
  const toml::table document = toml::parse("[t]\n[[a]]\n");
  EXPECT_EQ(found_part(*document.get("t")), "map");
  EXPECT_EQ(found_part(*document.get("a")), "sequence");
}

TEST(FloatText, ExtremesKeepEveryDigitAndAPoint) {
  const std::string largest = float_text(std::numeric_limits<double>::max());
  EXPECT_EQ(largest.size(), 311u);  // 309 digits, ".0"
  EXPECT_EQ(largest, "17976931348623157" + std::string(292, '0') + ".0");
  EXPECT_EQ(float_text(std::numeric_limits<double>::denorm_min()), "0." + std::string(323, '0') + "5");
  EXPECT_EQ(float_text(-std::numeric_limits<double>::min()), "-0." + std::string(307, '0') + "22250738585072014");
}

}  // namespace
}  // namespace vexlo::config
