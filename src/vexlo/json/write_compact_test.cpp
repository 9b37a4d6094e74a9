// Compact JSON and the quoting that leaves no control character in the
// text: what `show --json` and the JSON listing lines are made of.

#include <gtest/gtest.h>

#include <sstream>

#include "testing/json_equal.h"
#include "vexlo/json/json.h"

namespace vexlo::json {
namespace {

TEST(AppendQuotedWithoutControls, EscapesEveryControlCharacter) {
  const struct {
    std::string text;
    const char* quoted;
  } cases[] = {
      {"", R"("")"},
      {"logs/a.json", R"("logs/a.json")"},
      {"a\"b\\c\n", R"("a\"b\\c\n")"},
      {std::string("\0\x1b[2J", 5), R"("\u0000\u001b[2J")"},
      {"\x7f", R"("\u007f")"},
      {"x\xc2\x80y\xc2\x9b" "1m", R"("x\u0080y\u009b1m")"},
      // Neighbours of the C1 controls are printable characters.
      {"\xc2\xa0", "\"\xc2\xa0\""},
      {"\xc2\xbf\xc3\x80\xc3\xa9", "\"\xc2\xbf\xc3\x80\xc3\xa9\""},
      {"€𝄞", "\"€𝄞\""},
  };
  for (const auto& c : cases) {
    std::string out = "x";
    append_quoted_without_controls(out, c.text);
    EXPECT_EQ(out, std::string("x") + c.quoted);
    // Readers get the text back unchanged.
    auto doc = parse(out.substr(1));
    ASSERT_TRUE(doc) << out;
    EXPECT_EQ(doc->root().as_string(), c.text);
  }
}

TEST(WriteCompact, OneLineInTheOrderAndNumberTextOfThePrettyForm) {
  const struct {
    const char* json;
    const char* compact;
  } cases[] = {
      {"{}", "{}"},
      {"[]", "[]"},
      {"42", "42"},
      {" null ", "null"},
      {R"("hi")", R"("hi")"},
      {R"({"b": 1, "a": 2, "a": 3})", R"({"a":3,"b":1})"},
      {R"([1, [2, [3, []]], {}])", R"([1,[2,[3,[]]],{}])"},
      {"[1.0, 1e2, 1e16, -0, -0.0, 18446744073709551616, -9223372036854775808, 0.00001, 1.5e-7]",
       "[1.0,100.0,1e+16,-0.0,-0.0,1.8446744073709552e+19,-9223372036854775808,0.00001,1.5e-7]"},
      {R"({"a b": "line\nbreak", "": {"x": true, "y": false}})",
       R"({"":{"x":true,"y":false},"a b":"line\nbreak"})"},
      {"{\"\\u007f\": \"\\u0085 \\u001b\"}", R"({"\u007f":"\u0085 \u001b"})"},
      {R"([{"b": {"d": 1, "c": [{"f": 1, "e": 2}]}, "a": {"h": 3, "g": {}}}, {"y": 0, "x": 0}])",
       R"([{"a":{"g":{},"h":3},"b":{"c":[{"e":2,"f":1}],"d":1}},{"x":0,"y":0}])"},
      {R"({"abcdefghij": 1, "abcdefghi": 2, "a\u0000": 3, "a": 4, "abcdefghij": 5})",
       R"({"a":4,"a\u0000":3,"abcdefghi":2,"abcdefghij":5})"},
  };
  Parser parser;
  for (const auto& c : cases) {
    auto doc = parse(c.json);
    ASSERT_TRUE(doc) << c.json;
    std::string out;
    append_compact(out, doc->root());
    EXPECT_EQ(out, c.compact) << c.json;
    auto again = parse(out);
    ASSERT_TRUE(again) << out;
    EXPECT_TRUE(testing::json_equal(again->root(), doc->root())) << out;
    // Written as parsed, without the index, the text is the same.
    std::string text = c.json;
    const auto parsed = parser.parse_for_writing(PaddedText(text));
    ASSERT_TRUE(parsed) << c.json;
    std::string written;
    append_compact(written, *parsed);
    EXPECT_EQ(written, c.compact) << c.json;
    std::ostringstream streamed;
    write_compact(streamed, *parsed);
    EXPECT_EQ(streamed.str(), c.compact) << c.json;
  }
}

}  // namespace
}  // namespace vexlo::json
