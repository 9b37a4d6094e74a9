#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <string>

#include "testing/source_tree.h"
#include "testing/temp_dir.h"
#include "vexlo/json/json.h"
#include "vexlo/json/streamed_check.h"

namespace vexlo::json {
namespace {

std::string nested_arrays(std::size_t depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

TEST(Parse, AcceptsOneValueWithJsonWhiteSpaceOnly) {
  const struct {
    std::string text;
    bool ok;
  } cases[] = {
      {"{}", true},
      {" \t\r\n[1, 2]\n\r\t ", true},
      {"42", true},
      {"\"hi\"", true},
      {"null", true},
      {"", false},
      {"   ", false},
      {"\xEF\xBB\xBF{}", false},         // byte-order mark
      {"{} x", false},                    // trailing content
      {"{}\n{}", false},                  // JSON lines
      {"1 2", false},
      {"\f1", false},                     // form feed is not JSON white space
      {"[1,]", false},
      {"{\"a\" 1}", false},
      {"01", false},
      {"1.", false},
      {"[\"\\ud800\"]", false},           // lone high surrogate
      {"[\"\\udc00\"]", false},           // lone low surrogate
      {"[\"\\udc00\\ud800\"]", false},    // pair in the wrong order
      {"[\"\\ud800\\u0041\"]", false},    // high surrogate then no low one
      {"[\"\\ud834\\udd1e\"]", true},
      {"[\"\xC3\x28\"]", false},          // invalid UTF-8
      {"[\"a\tb\"]", false},              // raw control character in a string
      {"[\"\\x\"]", false},
      {"1e400", false},                   // overflows a double
      {"-1e400", false},
      {"[" + std::string(400, '9') + "]", false},
      {"-" + std::string(400, '9'), false},
      {"[18446744073709551616, 1e400]", false},     // a huge integer beside an overflow
      {"[012345678901234567890]", false},            // a huge integer with a leading zero
      {"[-012345678901234567890]", false},
      {"[18446744073709551616, 01]", false},
      {"[18446744073709551616x]", false},
      {"[1e-400]", true},                 // underflow reads as zero
      {"1.7976931348623158e308", true},   // rounds down to the largest double
      {"1.7976931348623159e308", false},
      {"[1\"a\"]", false},
      {"[true\"a\"]", false},
      {"\"\xED\xA0\x80\"", false},           // an encoded surrogate
      {nested_arrays(127), true},
      {nested_arrays(128), false},
      {std::string(127, '[') + "1" + std::string(127, ']'), false},  // only an empty innermost level passes
      {"[" + std::string(126, '{') + std::string(126, '}') + "]", false},  // objects need names
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse(c.text).has_value(), c.ok) << c.text.substr(0, 60);
    std::string copy = c.text;
    EXPECT_EQ(parse(PaddedText(copy)).has_value(), c.ok) << c.text.substr(0, 60);
    EXPECT_EQ(read_boot_timestamp_streamed(c.text).has_value(), c.ok) << c.text.substr(0, 60);
  }
}

TEST(Parse, TheStreamedCheckAgreesOnEveryDocumentOfTheParsingSuite) {
  for (const auto& entry : std::filesystem::directory_iterator(testing::test_data_path("json-suite/test_parsing"))) {
    const std::string text = testing::read_file(entry.path().string());
    EXPECT_EQ(read_boot_timestamp_streamed(text).has_value(), parse(text).has_value()) << entry.path();
  }
}

TEST(Parse, NestingOfObjectsCountsToo) {
  std::string deep;
  for (int i = 0; i < 126; ++i) deep += "{\"a\":";
  EXPECT_TRUE(parse(deep + "[]" + std::string(126, '}')));
  EXPECT_FALSE(parse(deep + "[[]]" + std::string(126, '}')));
}

TEST(Parse, DepthLimitHoldsAfterTheParserGrows) {
  Parser parser;
  const auto read = [&](std::string text) { return parser.read_boot_timestamp(PaddedText(text)); };
  EXPECT_TRUE(read("[]"));
  const std::string padding(200000, ' ');
  EXPECT_TRUE(read(padding + nested_arrays(127)));
  EXPECT_FALSE(read(padding + nested_arrays(128)));
}

struct NumberCase {
  std::string text;
  Kind kind;
  std::uint64_t unsigned_value = 0;
  std::int64_t signed_value = 0;
  double float_value = 0;
};

TEST(Parse, NumbersTakeTheirKindFromTheLiteral) {
  const NumberCase cases[] = {
      {"0", Kind::Unsigned, 0},
      {"42", Kind::Unsigned, 42},
      {"9223372036854775807", Kind::Unsigned, 9223372036854775807u},
      {"9223372036854775808", Kind::Unsigned, 9223372036854775808u},
      {"18446744073709551615", Kind::Unsigned, 18446744073709551615u},
      {"-1", Kind::Signed, 0, -1},
      {"-9223372036854775808", Kind::Signed, 0, INT64_MIN},
      {"-0", Kind::Float, 0, 0, -0.0},
      {"-0.0", Kind::Float, 0, 0, -0.0},
      {"0.0", Kind::Float, 0, 0, 0.0},
      {"1.0", Kind::Float, 0, 0, 1.0},
      {"1e2", Kind::Float, 0, 0, 100.0},
      {"-0e5", Kind::Float, 0, 0, -0.0},
      {"18446744073709551616", Kind::Float, 0, 0, 18446744073709551616.0},
      {"-9223372036854775809", Kind::Float, 0, 0, -9223372036854775808.0},
      {"123456789012345678901234567890", Kind::Float, 0, 0, 1.2345678901234568e29},
      {"-123456789012345678901234567890", Kind::Float, 0, 0, -1.2345678901234568e29},
      // Correct rounding where a naive conversion goes wrong.
      {"9007199254740993", Kind::Unsigned, 9007199254740993u},
      {"9007199254740993.0", Kind::Float, 0, 0, 9007199254740992.0},
      {"1e23", Kind::Float, 0, 0, 1e23},
      {"2.2250738585072011e-308", Kind::Float, 0, 0, 2.2250738585072011e-308},
      {"4.9406564584124654e-324", Kind::Float, 0, 0, 4.9406564584124654e-324},
      {"1.7976931348623157e308", Kind::Float, 0, 0, 1.7976931348623157e308},
      {"0.1000000000000000055511151231257827021181583404541015625", Kind::Float, 0, 0, 0.1},
      // The largest double written out as an integer of 309 digits.
      {"17976931348623157" + std::string(292, '0'), Kind::Float, 0, 0, 1.7976931348623157e308},
  };
  for (const auto& c : cases) {
    for (const std::string& text : {c.text, "[" + c.text + "]", "{\"n\": " + c.text + "}"}) {
      auto doc = parse(text);
      ASSERT_TRUE(doc) << text << ": " << doc.error().description;
      Value v = doc->root();
      if (v.kind() == Kind::Array) v = v.element(0);
      if (v.kind() == Kind::Object) v = v.member_value(0);
      ASSERT_EQ(v.kind(), c.kind) << text;
      switch (c.kind) {
        case Kind::Unsigned:
          EXPECT_EQ(v.as_unsigned(), c.unsigned_value) << text;
          break;
        case Kind::Signed:
          EXPECT_EQ(v.as_signed(), c.signed_value) << text;
          break;
        default:
          EXPECT_EQ(std::bit_cast<std::uint64_t>(v.as_float()),
                    std::bit_cast<std::uint64_t>(c.float_value))
              << text;
      }
    }
  }
}

TEST(Parse, NegativeZeroIsFoundAmongOtherNumbersAndStrings) {
  auto doc = parse(R"({"date": "2024-01-05 -0", "v": [0, -0, -0.5, -0, 10, -0e1, "-0"], "w": -0})");
  ASSERT_TRUE(doc);
  const Value v = *doc->root().find("v");
  const Kind expected[] = {Kind::Unsigned, Kind::Float, Kind::Float, Kind::Float,
                           Kind::Unsigned, Kind::Float, Kind::String};
  ASSERT_EQ(v.size(), std::size(expected));
  for (std::size_t i = 0; i < v.size(); ++i) EXPECT_EQ(v.element(i).kind(), expected[i]) << i;
  EXPECT_TRUE(std::signbit(v.element(1).as_float()));
  EXPECT_FALSE(std::signbit(v.element(0).as_float()));
  EXPECT_TRUE(std::signbit(doc->root().find("w")->as_float()));
}

TEST(Parse, HugeIntegersBesideNegativeZeroAndEscapedQuotes) {
  auto doc = parse(R"(["\"-0 18446744073709551616", -0, 18446744073709551616, 0, -18446744073709551616])");
  ASSERT_TRUE(doc);
  const Value v = doc->root();
  ASSERT_EQ(v.size(), 5u);
  EXPECT_EQ(v.element(0).as_string(), "\"-0 18446744073709551616");
  EXPECT_EQ(v.element(1).kind(), Kind::Float);
  EXPECT_TRUE(std::signbit(v.element(1).as_float()));
  EXPECT_EQ(v.element(2).as_float(), 18446744073709551616.0);
  EXPECT_EQ(v.element(3).kind(), Kind::Unsigned);
  EXPECT_EQ(v.element(4).as_float(), -18446744073709551616.0);
}

TEST(Parse, ObjectsHoldMembersInByteOrderAndKeepTheLaterOfRepeatedNames) {
  const struct {
    const char* text;
    std::vector<std::pair<std::string, std::uint64_t>> members;
  } cases[] = {
      {R"({"b": 1, "a": 2})", {{"a", 2}, {"b", 1}}},
      {R"({"a": 1, "a": 2})", {{"a", 2}}},
      {R"({"a": 1, "b": 3, "a": 2, "a": 4})", {{"a", 4}, {"b", 3}}},
      {R"({"é": 1, "z": 2, "Z": 3, "": 4})", {{"", 4}, {"Z", 3}, {"z", 2}, {"é", 1}}},
      {R"({"ab": 1, "a": 2, "a\u0000": 3})", {{"a", 2}, {std::string("a\0", 2), 3}, {"ab", 1}}},
  };
  for (const auto& c : cases) {
    auto doc = parse(c.text);
    ASSERT_TRUE(doc) << c.text;
    const Value root = doc->root();
    ASSERT_EQ(root.size(), c.members.size()) << c.text;
    for (std::size_t i = 0; i < c.members.size(); ++i) {
      EXPECT_EQ(root.member_name(i), c.members[i].first) << c.text;
      EXPECT_EQ(root.member_value(i).as_unsigned(), c.members[i].second) << c.text;
      auto found = root.find(c.members[i].first);
      ASSERT_TRUE(found) << c.text;
      EXPECT_EQ(found->as_unsigned(), c.members[i].second) << c.text;
    }
    EXPECT_FALSE(root.find("missing"));
  }
}

TEST(Parse, DroppedRepeatedMembersDoNotDisturbNestedValues) {
  auto doc = parse(R"({"x": {"b": [1, {"d": 1, "c": 2}], "a": {}}, "x": {"z": [[], {"q": null}], "y": true}})");
  ASSERT_TRUE(doc);
  const Value x = *doc->root().find("x");
  ASSERT_EQ(x.size(), 2u);
  EXPECT_EQ(x.member_name(0), "y");
  EXPECT_TRUE(x.member_value(0).as_bool());
  const Value z = x.member_value(1);
  ASSERT_EQ(z.kind(), Kind::Array);
  ASSERT_EQ(z.size(), 2u);
  EXPECT_EQ(z.element(0).kind(), Kind::Array);
  EXPECT_EQ(z.element(0).size(), 0u);
  EXPECT_EQ(z.element(1).find("q")->kind(), Kind::Null);
}

TEST(Parse, StringsHaveTheirEscapesResolved) {
  auto doc = parse(R"(["a\"b\\c\/d\b\f\n\r\t", "\u00e9\u20ac\ud834\udd1e", "\u0000x", "naïve"])");
  ASSERT_TRUE(doc);
  const Value v = doc->root();
  EXPECT_EQ(v.element(0).as_string(), "a\"b\\c/d\b\f\n\r\t");
  EXPECT_EQ(v.element(1).as_string(), "\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E");
  EXPECT_EQ(v.element(2).as_string(), std::string_view("\0x", 2));
  EXPECT_EQ(v.element(3).as_string(), "naïve");
}

TEST(Parse, AccessorsOfTheWrongKindOrOutOfRangeReadAsEmpty) {
  auto doc = parse(R"({"a": [1], "s": "x", "n": 5, "neg": -5})");
  ASSERT_TRUE(doc);
  const Value root = doc->root();
  EXPECT_EQ(root.member_value(7).kind(), Kind::Null);
  EXPECT_EQ(root.member_name(7), "");
  EXPECT_EQ(root.element(0).kind(), Kind::Null);  // not an array
  const Value a = *root.find("a");
  EXPECT_EQ(a.element(1).kind(), Kind::Null);
  EXPECT_EQ(a.member_name(0), "");
  EXPECT_FALSE(a.find("x"));
  const Value s = *root.find("s");
  EXPECT_EQ(s.size(), 0u);
  EXPECT_EQ(s.as_unsigned(), 0u);
  EXPECT_FALSE(s.as_bool());
  EXPECT_EQ(root.find("n")->as_string(), "");
  EXPECT_EQ(root.find("n")->as_signed(), 5);
  EXPECT_EQ(root.find("neg")->as_unsigned(), 0u);
  EXPECT_EQ(root.find("neg")->as_float(), -5.0);
}

TEST(Parse, DocumentsAreIndependentOfLaterParses) {
  std::string second_text = R"({"a": "second", "b": [1, 2, 3]})";
  auto first = parse(R"({"a": "first"})");
  auto second = parse(PaddedText(second_text));
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  second_text.assign(second_text.size(), ' ');
  EXPECT_EQ(first->root().find("a")->as_string(), "first");
  EXPECT_EQ(second->root().find("a")->as_string(), "second");
  EXPECT_FALSE(parse("[1, 2"));
  EXPECT_EQ(first->root().find("a")->as_string(), "first");
}

}  // namespace
}  // namespace vexlo::json
