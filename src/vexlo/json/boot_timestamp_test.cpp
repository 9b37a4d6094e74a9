#include <gtest/gtest.h>

#include <string>

#include "vexlo/json/json.h"
#include "vexlo/json/streamed_check.h"

namespace vexlo::json {
namespace {

TEST(ReadBootTimestamp, TopLevelIntegerInTheSignedRange) {
  const struct {
    std::string text;
    bool valid;
    std::optional<std::int64_t> timestamp;
  } cases[] = {
      {R"({"boot_timestamp": 1764979200})", true, 1764979200},
      {R"({"boot_timestamp": -5})", true, -5},
      {R"({"boot_timestamp": 0})", true, 0},
      {R"({"boot_timestamp": -0})", true, std::nullopt},  // a float
      {R"({"x": "-0", "boot_timestamp": 0})", true, 0},
      {R"({"boot_timestamp": [-0], "boot_timestamp": 0, "y": -0})", true, 0},
      {R"({"boot_timestamp": 9223372036854775807})", true, INT64_MAX},
      {R"({"boot_timestamp": -9223372036854775808})", true, INT64_MIN},
      {R"({"boot_timestamp": 9223372036854775808})", true, std::nullopt},
      {R"({"boot_timestamp": 18446744073709551616})", true, std::nullopt},
      {R"({"boot_timestamp": 17, "big": 18446744073709551616})", true, 17},
      {R"({"boot_timestamp": 1.0})", true, std::nullopt},
      {R"({"boot_timestamp": 1e3})", true, std::nullopt},
      {R"({"boot_timestamp": "17"})", true, std::nullopt},
      {R"({"boot_timestamp": null})", true, std::nullopt},
      {R"({"boot_timestamp": 1, "boot_timestamp": 2})", true, 2},
      {R"({"boot\u005ftimestamp": 3, "boot_timestamp\u0000": 4})", true, 3},
      {R"({"boot_timestamp": 7, "x": ")" + std::string(kStreamedCheckFrom, 'x') + "\"}", true, 7},
      {R"({"boot_timestamp": 1, "boot_timestamp": "x"})", true, std::nullopt},
      {R"({"a": {"boot_timestamp": 5}})", true, std::nullopt},
      {R"({"a": {"boot_timestamp": 5}, "boot_timestamp": 6, "b": [1, {"c": 2}]})", true, 6},
      {R"([{"boot_timestamp": 5}])", true, std::nullopt},
      {R"(5)", true, std::nullopt},
      {R"({})", true, std::nullopt},
      {R"({"boot_timestamp": 5} {})", false, std::nullopt},
      {R"({"boot_timestamp": 5, "x": 1e400})", false, std::nullopt},
      {"\xEF\xBB\xBF{\"boot_timestamp\": 5}", false, std::nullopt},
      {"", false, std::nullopt},
      {std::string(128, '[') + std::string(128, ']'), false, std::nullopt},
  };
  // A parser of its own for each text, one reused for all of them as the
  // scan of a log tree reuses it, and the streamed check, here for every
  // size.
  Parser reused_parser;
  for (const auto& c : cases) {
    std::string once_copy = c.text;
    auto once = Parser().read_boot_timestamp(PaddedText(once_copy));
    std::string copy = c.text;
    auto reused = reused_parser.read_boot_timestamp(PaddedText(copy));
    EXPECT_EQ(describe_json_fault(c.text).has_value(), !c.valid) << c.text;
    for (const auto& result : {once, reused, read_boot_timestamp_streamed(c.text)}) {
      ASSERT_EQ(result.has_value(), c.valid) << c.text;
      if (c.valid) {
        EXPECT_EQ(*result, c.timestamp) << c.text;
      }
    }
  }
}

// What a person is told of a text parse refuses: the first fault and its byte.
TEST(DescribeJsonFault, SaysWhatIsWrongAndWhere) {
  const struct {
    std::string text;
    std::string why;
  } cases[] = {
      {R"({"reason": "pan)", "ends inside a string at byte 15"},
      {R"({"a": [1, 2)", "ends inside an array at byte 11"},
      {R"({"a": 1)", "ends inside an object at byte 7"},
      {R"({"a")", "ends inside an object at byte 4"},
      {"", "holds no value at byte 0"},
      {R"({"x": 1e400})", "holds a number out of range at byte 6"},
      {R"({"x": "\udc00"})", "holds a lone surrogate at byte 7"},
      {R"({"x": "\ud800x"})", "holds a lone surrogate at byte 7"},
      {"{\"x\": \"a\x01\"}", "holds a raw control character at byte 8"},
      {"{\"x\": \"\xff\"}", "holds bytes that are not UTF-8 at byte 7"},
      {R"({"x": "\q"})", "holds an invalid escape at byte 7"},
      {std::string(128, '[') + std::string(128, ']'), "nests too deep at byte 126"},
      {"{} {}", "goes on after its value at byte 3"},
      {R"({"x": tru})", "holds an unexpected character at byte 6"},
  };
  for (const auto& c : cases) EXPECT_EQ(describe_json_fault(c.text).value_or("valid"), c.why) << c.text;
}

}  // namespace
}  // namespace vexlo::json
