#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "vexlo/json/json.h"

namespace vexlo::json {
namespace {

// The text write_pretty gives of `json`, parsed without the index.
std::string written_pretty(std::string json) {
  const auto parsed = parse_for_writing(PaddedText(json));
  EXPECT_TRUE(parsed) << json;
  if (!parsed) return {};
  std::ostringstream streamed;
  write_pretty(streamed, parsed->text());
  return streamed.str();
}

TEST(AppendQuoted, EscapesLikeTheDatabaseFile) {
  const struct {
    std::string text;
    const char* quoted;
  } cases[] = {
      {"", R"("")"},
      {"plain/path.json", R"("plain/path.json")"},
      {"a\"b\\c", R"("a\"b\\c")"},
      {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
      {std::string("\0\x01\x1f\x7f", 4), "\"\\u0000\\u0001\\u001f\x7f\""},
      {"é€𝄞", "\"é€𝄞\""},
  };
  for (const auto& c : cases) {
    std::string out = "x";
    append_quoted(out, c.text);
    EXPECT_EQ(out, std::string("x") + c.quoted);
  }
}

TEST(AppendQuoted, FindsEscapesAtEveryPositionOfLongerTexts) {
  // Texts are looked at eight bytes at a time: put each character that
  // needs an escape, and its neighbours that do not, at every position.
  const struct {
    char c;
    const char* written;
  } cases[] = {
      {'"', "\\\""}, {'\\', "\\\\"}, {'\n', "\\n"}, {'\0', "\\u0000"}, {'\x1f', "\\u001f"},
      {' ', " "},     {'!', "!"},       {'#', "#"},     {'[', "["},          {']', "]"},
      {'\x7f', "\x7f"}, {'\xc3', "\xc3"},
  };
  for (const auto& c : cases) {
    for (std::size_t length = 1; length <= 20; ++length) {
      for (std::size_t at = 0; at < length; ++at) {
        std::string text(length, 'a');
        text[at] = c.c;
        std::string out;
        append_quoted(out, text);
        EXPECT_EQ(out, "\"" + std::string(at, 'a') + c.written + std::string(length - at - 1, 'a') + "\"")
            << static_cast<int>(c.c) << " at " << at << " of " << length;
      }
    }
  }
}

TEST(AppendNumber, ShortestRoundTripInPlainOrScientificForm) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {-1.5, "-1.5"},
      {100.0, "100.0"},
      {0.5, "0.5"},
      {0.1, "0.1"},
      {0.00001, "0.00001"},
      {0.000012345, "0.000012345"},
      {0.000001, "1e-6"},
      {1.5e-7, "1.5e-7"},
      {1000000000000000.0, "1000000000000000.0"},
      {1234567890123456.7, "1234567890123456.8"},
      {1e16, "1e+16"},
      {1.2345678901234568e+20, "1.2345678901234568e+20"},
      {18446744073709551616.0, "1.8446744073709552e+19"},
      {123.456, "123.456"},
      {1e100, "1e+100"},
      {-2.5e-300, "-2.5e-300"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      {std::numeric_limits<double>::denorm_min(), "5e-324"},
      {0.30000000000000004, "0.30000000000000004"},
  };
  for (const auto& c : cases) {
    std::string out;
    append_number(out, c.value);
    EXPECT_EQ(out, c.text);
  }
}

TEST(AppendNumber, NumberValuesKeepTheirKind) {
  const struct {
    const char* json;
    const char* text;
  } cases[] = {
      {"0", "0"},
      {"18446744073709551615", "18446744073709551615"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"1.0", "1.0"},
      {"1e2", "100.0"},
      {"1e16", "1e+16"},
      {"-0", "-0.0"},
      {"18446744073709551616", "1.8446744073709552e+19"},
      {"1E-7", "1e-7"},
  };
  for (const auto& c : cases) {
    auto doc = parse(c.json);
    ASSERT_TRUE(doc) << c.json;
    std::string out;
    append_number(out, doc->root());
    EXPECT_EQ(out, c.text) << c.json;
  }
}

TEST(AppendPretty, TwoSpaceLayout) {
  const struct {
    const char* json;
    const char* pretty;
  } cases[] = {
      {"{}", "{}"},
      {"[]", "[]"},
      {"42", "42"},
      {R"("a\nb")", R"("a\nb")"},
      {"null", "null"},
      {R"({"b": 1, "a": 2})", "{\n  \"a\": 2,\n  \"b\": 1\n}"},
      {R"([1, [2, 3], {}, []])", "[\n  1,\n  [\n    2,\n    3\n  ],\n  {},\n  []\n]"},
      {R"({"ok": true, "list": [{"type": "cpu", "count": 42}, {"type": "kernel", "msg": "x"}],)"
       R"( "boot_timestamp": 17, "note": null, "data": []})",
       "{\n"
       "  \"boot_timestamp\": 17,\n"
       "  \"data\": [],\n"
       "  \"list\": [\n"
       "    {\n"
       "      \"count\": 42,\n"
       "      \"type\": \"cpu\"\n"
       "    },\n"
       "    {\n"
       "      \"msg\": \"x\",\n"
       "      \"type\": \"kernel\"\n"
       "    }\n"
       "  ],\n"
       "  \"note\": null,\n"
       "  \"ok\": true\n"
       "}"},
  };
  for (const auto& c : cases) {
    auto doc = parse(c.json);
    ASSERT_TRUE(doc) << c.json;
    std::string out;
    append_pretty(out, doc->root());
    EXPECT_EQ(out, c.pretty);
    EXPECT_EQ(written_pretty(c.json), c.pretty);
  }
}

TEST(WritePretty, StringsAndNamesOfEveryLengthWithEscapesAnywhere) {
  // Short strings take another path than long ones; escapes and characters
  // next to them in value at every position of every length up to past it.
  const char* pieces[] = {"\\\"", "\\\\", "\\n", "\\u0001", "\\u001f", " ", "#", "]", "~", "\xc3\xa9"};
  for (const char* piece : pieces) {
    for (std::size_t length = 0; length <= 40; ++length) {
      for (std::size_t at = 0; at <= length; ++at) {
        const std::string text = std::string(at, 'a') + piece + std::string(length - at, 'b');
        for (const bool as_name : {false, true}) {
          const std::string json = as_name ? "{\"" + text + "\": 1}" : "[\"" + text + "\"]";
          auto doc = parse(json);
          ASSERT_TRUE(doc) << json;
          const std::string expected =
              as_name ? "{\n  \"" + text + "\": 1\n}" : "[\n  \"" + text + "\"\n]";
          std::string out;
          append_pretty(out, doc->root());
          EXPECT_EQ(out, expected) << json;
          EXPECT_EQ(written_pretty(json), expected) << json;
        }
      }
    }
  }
}

TEST(AppendPretty, ForATerminalStaysTheSameValue) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"{\n  \"a\": \"x\"\n}", "{\n  \"a\": \"x\"\n}"},
      {"\"del\x7f\"", "\"del\\u007f\""},
      {"\"\xc2\x9b" "c1\"", "\"\\u009bc1\""},
      {"\"\xc3\xa9\"", "\"\xc3\xa9\""},
      {"\"rtl\u202e \\\\\"", "\"rtl\\u202e \\\\\""},
  };
  for (const auto& c : cases) {
    auto doc = parse(c.in);
    ASSERT_TRUE(doc) << c.in;
    std::string out;
    append_pretty(out, doc->root(), Escapes::Terminal);
    EXPECT_EQ(out, c.out) << c.in;
  }
}

TEST(WritePretty, LargeDocumentsMatchTheAppendedText) {
  std::string json = "[";
  for (int i = 0; i < 100000; ++i) json += (i ? "," : "") + std::string(R"({"k": "value", "n": )") + std::to_string(i) + "}";
  json += "]";
  auto doc = parse(json);
  ASSERT_TRUE(doc);
  std::string appended;
  append_pretty(appended, doc->root());
  EXPECT_GT(appended.size(), std::size_t{2} << 20);
  EXPECT_EQ(written_pretty(json), appended);
}

}  // namespace
}  // namespace vexlo::json
