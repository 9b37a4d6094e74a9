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
    for (const auto& result : {once, reused, read_boot_timestamp_streamed(c.text)}) {
      ASSERT_EQ(result.has_value(), c.valid) << c.text;
      if (c.valid) {
        EXPECT_EQ(*result, c.timestamp) << c.text;
      }
    }
  }
}

}  // namespace
}  // namespace vexlo::json
