#include "vexlo/query/time_expression.h"

#include <gtest/gtest.h>

#include <string>

#include "vexlo/os/file_system.h"

namespace vexlo {
namespace {

constexpr std::int64_t kDay = 86400;

// Forms counted from the clock: the instant lies `back` seconds before the
// reading, or before midnight at the start of the day when `from_midnight`.
TEST(TimeExpression, RelativeFormsCountBackFromTheClock) {
  const struct {
    const char* text;
    std::int64_t back;
    bool from_midnight = false;
  } cases[] = {
      {"-10day", 10 * kDay},   {"-0day", 0},          {"-10dayday", 10 * kDay}, {"-007day", 7 * kDay},
      {"-+10day", 10 * kDay},  {"--10day", -10 * kDay}, {"-1day", kDay},        {"--0day", 0},
      {"-36500day", 36500 * kDay},
      {"-10days", 10 * kDay},  {"-3d", 3 * kDay},     {"-90s", 90},             {"-90sec", 90},
      {"-2secs", 2},           {"-15min", 900},       {"-15mins", 900},         {"-2h", 7200},
      {"-2hour", 7200},        {"-2hours", 7200},     {"-1w", 7 * kDay},        {"-2week", 14 * kDay},
      {"-2weeks", 14 * kDay},  {"10 min ago", 600},   {"1 hour ago", 3600},     {"2 days ago", 2 * kDay},
      {"3  weeks  ago", 21 * kDay}, {"0 s ago", 0},  {"now", 0},
      {"today", 0, true},      {"yesterday", kDay, true},
  };
  for (const auto& c : cases) {
    const std::int64_t before = os::now_seconds();
    const auto instant = parse_time_expression(c.text);
    const std::int64_t after = os::now_seconds();
    const auto base = [&](std::int64_t now) { return c.from_midnight ? now - now % kDay : now; };
    ASSERT_TRUE(instant) << c.text;
    EXPECT_GE(*instant, base(before) - c.back) << c.text;
    EXPECT_LE(*instant, base(after) - c.back) << c.text;
  }
}

TEST(TimeExpression, CalendarFormsGiveExactInstants) {
  const struct {
    const char* text;
    std::int64_t instant;
  } cases[] = {
      {"2024-03-01", 1709251200},
      {"2024-03-01 12:30", 1709296200},
      {"2024-03-01 12:30:15", 1709296215},
      {"1969-12-31", -86400},
      {"1970-01-01 00:00:00", 0},
      {"1970-01-01", 0},
      {"2024-3-1", 1709251200},
      {" 2024-03-01", 1709251200},
      {"\t\n 2024-03-01", 1709251200},
      {"24-03-01", -61404652800},
      {"+2024-03-01", 1709251200},
      {"+0002024-03-01", 1709251200},
      {"2024-03-01 23:59:60", 1709337599},
      {"2024-03-01 23:59:59", 1709337599},
      {"-2024-03-01", -126033321600},
      {"2024-02-29", 1709164800},
      {"2000-02-29", 951782400},
      {"0-01-01", -62167219200},
      {"+262142-12-31", 8210266790400},
      {"-262143-01-01", -8334601228800},
      {"-4-02-29", -62288352000},
      {"0-02-29", -62162121600},
      // The blank between date and time matches any run of white space.
      {"2024-03-01    12:30", 1709296200},
      {"2024-03-0112:30", 1709296200},
      {"2024-03-01\t12:30", 1709296200},
      // White space may also stand before each numeric field.
      {"2024- 03- 01 12: 30", 1709296200},
      {"2024-03-01 1:2:3", 1709251200 + 3600 + 120 + 3},
      // Unicode white space, not only the ASCII kind.
      {"\xC2\xA0" "2024-03-01", 1709251200},
      {"\xE3\x80\x80" "2024-03-01", 1709251200},
      {"2024-03-01\xE2\x80\xAF" "12:30", 1709296200},
      {"2024-03-01\xE2\x80\x80\xE2\x80\x8A\xC2\x85" "12:30", 1709296200},
      // Fields are read greedily: the day takes two digits before the hour.
      {"2024-03-112:30", 1710124200},
      // ISO 8601, as JSON listings print the time, and seconds since 1970.
      {"2024-03-01T12:30", 1709296200},
      {"2024-03-01T12:30Z", 1709296200},
      {"2024-03-01T12:30:15", 1709296215},
      {"2024-03-01T12:30:15Z", 1709296215},
      {"-1-02-28T23:59:59Z", -62193657601},
      {"@0", 0},
      {"@1709296215", 1709296215},
      {"@-86400", -86400},
      {"@+5", 5},
  };
  for (const auto& c : cases) {
    const auto instant = parse_time_expression(c.text);
    ASSERT_TRUE(instant) << c.text;
    EXPECT_EQ(*instant, c.instant) << c.text;
  }
}

TEST(TimeExpression, InvalidTextsYieldNoValue) {
  const char* const cases[] = {
      "",
      // Relative lookalikes.
      "-10Day", "-10DAY", "-day", "-dayday", "- 10day", "-1.5day", "-10 day",
      "10day", "-10", "-+day", "-+-10day", "-10day ", " -10day", "-1e3day", "-10dayx",
      "-10ss", "-10hs", "-10daydays", "-10y", "-10month", "10 min", "min ago", "-10 min ago", "+10 min ago",
      "10min ago", "10 min ago ", "Now", "now ", "Today", "tomorrow", "@", "@1.5", "@ 1", "@1d",
      "@99999999999999999999",
      // Calendar texts that do not fit a format or name no instant.
      "2024-03-01T", "2024-03-01T12", "2024-03-01Z", "2024-03-01T12:30z", "2024-03-01t12:30",
      "2024-03-01T12:30ZZ", "2024-03-01 12:30Z", "2024-03-01 12", "2024-03-01 24:00", "2024-02-30", "2023-02-29",
      "01/03/2024", "2024-03-01 ", "2024-03-01\xC2\xA0", "2024-03-01 12:30 ", "2024-03-01 12:30:",
      "2024-03-01 12:60", "2024-03-01 12:30:61", "2024-00-01", "2024-13-01", "2024-03-00",
      "2024-04-31", "2024-003-01", "2024-03-001", "20245-03-01", "2024 -03-01", "2024-03-01 12 :30",
      "-1-02-29", "+262143-01-01", "262142-12-31", "-262144-12-31", "+-2024-03-01", "+ 2024-03-01", "+",
      "2024", "2024-03", "2024-03-01 12:30:15:00", "99999999999999999999999-01-01",
      // Only the Unicode white space counts: these are not blanks.
      "\xE2\x80\x8B" "2024-03-01", "\xC0\xA0" "2024-03-01", "2024-03-01\xFF" "12:30",
  };
  for (const char* text : cases) EXPECT_FALSE(parse_time_expression(text)) << text;
}

TEST(TimeExpression, DayCountsOutsideTheSecondRangeYieldNoValue) {
  const char* const cases[] = {
      "-99999999999999999999day",  // beyond 64 bits
      "-9223372036854775807day",   // in range, but not as seconds
      "--9223372036854775808day",  // the smallest count
      "-9223372036854775808day",   // one past the largest count
      "-106751991167301day",       // the first count whose seconds overflow
      "--106751991167301day",
      "-15250284452472w",          // the same, in weeks

  };
  for (const char* text : cases) EXPECT_FALSE(parse_time_expression(text)) << text;
}

TEST(TimeExpression, LargestDayCountsThatStillFit) {
  // 106751991167300 days are 9223372036854720000 seconds: taken from a
  // clock reading after 1970 the instant stays within range, added to it
  // the instant leaves the range.
  constexpr std::int64_t kDays = 106751991167300;
  const std::int64_t before = os::now_seconds();
  const auto back = parse_time_expression("-106751991167300day");
  const std::int64_t after = os::now_seconds();
  ASSERT_TRUE(back);
  EXPECT_GE(*back, before - kDays * kDay);
  EXPECT_LE(*back, after - kDays * kDay);
  EXPECT_FALSE(parse_time_expression("--106751991167300day"));
}

}  // namespace
}  // namespace vexlo
