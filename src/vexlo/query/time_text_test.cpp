#include "vexlo/query/time_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "vexlo/query/time_expression.h"

namespace vexlo {
namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kYear0 = -62167219200;     // 0000-01-01 00:00:00
constexpr std::int64_t kYear10000 = 253402300800;  // 10000-01-01 00:00:00

TEST(TimeText, CalendarAndRfc3339FormsWithinFourDigitYears) {
  const struct {
    std::int64_t seconds;
    const char* calendar;
    const char* rfc3339;  // nullptr: none
  } cases[] = {
      {0, "1970-01-01 00:00:00", "1970-01-01T00:00:00Z"},
      {1764889310, "2025-12-04 23:01:50", "2025-12-04T23:01:50Z"},
      {-1, "1969-12-31 23:59:59", "1969-12-31T23:59:59Z"},
      {-86400, "1969-12-31 00:00:00", "1969-12-31T00:00:00Z"},
      {951782400, "2000-02-29 00:00:00", "2000-02-29T00:00:00Z"},
      {1709337599, "2024-03-01 23:59:59", "2024-03-01T23:59:59Z"},
      {kYear0, "0000-01-01 00:00:00", "0000-01-01T00:00:00Z"},
      {kYear10000 - 1, "9999-12-31 23:59:59", "9999-12-31T23:59:59Z"},
      // Outside the years four digits write: the seconds as they are.
      {kYear0 - 1, "-62167219201", nullptr},
      {kYear10000, "253402300800", nullptr},
      {kMin, "-9223372036854775808", nullptr},
      {kMax, "9223372036854775807", nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(time_expression_text(c.seconds), c.calendar) << c.seconds;
    const auto rfc3339 = rfc3339_text(c.seconds);
    if (c.rfc3339 == nullptr) {
      EXPECT_FALSE(rfc3339) << c.seconds << ": " << rfc3339.value_or("");
    } else {
      EXPECT_EQ(rfc3339, c.rfc3339) << c.seconds;
    }
  }
}

// What a listing prints can be given back to --since and --before.
TEST(TimeText, CalendarFormReadsBackToTheSameInstant) {
  std::vector<std::int64_t> instants = {0, -1, 1, kYear0, kYear10000 - 1, 1764889310, 4102444800};
  std::mt19937_64 random(20251204);
  std::uniform_int_distribution<std::int64_t> any_instant(kYear0, kYear10000 - 1);
  for (int i = 0; i < 2000; ++i) instants.push_back(any_instant(random));
  for (const std::int64_t seconds : instants) {
    const std::string text = time_expression_text(seconds);
    EXPECT_EQ(parse_time_expression(text), seconds) << text;
  }
}

}  // namespace
}  // namespace vexlo
