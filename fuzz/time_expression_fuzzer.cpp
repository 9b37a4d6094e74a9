// Time expressions on arbitrary text. A calendar expression gives the same
// instant every time, within the year range of the calendar formats, and
// the instant written back as "YYYY-MM-DD HH:MM:SS" and in ISO 8601 reads
// as the same instant again. "@<seconds>" gives those seconds.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "vexlo/common/decimal.h"
#include "vexlo/query/time_expression.h"

namespace {

using vexlo::fuzz::require;

constexpr std::int64_t kSecondsPerDay = 86400;

// The forms counted from the clock: a span ending in a unit, or a word.
bool is_relative_form(std::string_view text) {
  const bool unit_last = !text.empty() && text.back() >= 'a' && text.back() <= 'z';
  return (text.starts_with('-') && unit_last) || text.ends_with(" ago") || text == "now" || text == "today" ||
         text == "yesterday";
}

std::int64_t floor_divide(std::int64_t a, std::int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

// The proleptic Gregorian date of a day count since 1970-01-01, by the
// era arithmetic of the 400-year cycle.
CivilDate civil_from_days(std::int64_t days) {
  days += 719468;
  const std::int64_t era = floor_divide(days, 146097);
  const std::int64_t day_of_era = days - era * 146097;
  const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
  const auto day = static_cast<unsigned>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  const auto month = static_cast<unsigned>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  return {year_of_era + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// The calendar text of an instant; a year past four digits carries a "+",
// which the year field needs for more than four digits.
std::string calendar_text(std::int64_t instant, bool iso) {
  const std::int64_t days = floor_divide(instant, kSecondsPerDay);
  const std::int64_t seconds = instant - days * kSecondsPerDay;
  const CivilDate date = civil_from_days(days);
  char text[64];
  std::snprintf(text, sizeof text, "%s%lld-%02u-%02u%c%02lld:%02lld:%02lld%s", date.year > 9999 ? "+" : "",
                static_cast<long long>(date.year), date.month, date.day, iso ? 'T' : ' ',
                static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                static_cast<long long>(seconds % 60), iso ? "Z" : "");
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto instant = vexlo::parse_time_expression(text);
  if (text.starts_with('@')) {
    require(instant == vexlo::parse_signed_decimal(text.substr(1)), "@ does not give its seconds");
    return 0;
  }
  if (!instant || is_relative_form(text)) return 0;

  require(vexlo::parse_time_expression(text) == instant, "a calendar expression changed its value");
  // Years -262143..262142 span these instants.
  constexpr std::int64_t kEarliest = -8334601315200;  // -262143-01-01 00:00:00
  constexpr std::int64_t kLatest = 8210266876799;     // 262142-12-31 23:59:59
  require(*instant >= kEarliest && *instant <= kLatest, "an instant outside the calendar range");

  // A negative year starts with "-", but the text holds no "day", so it
  // still reads as a calendar date.
  for (const bool iso : {false, true}) {
    const std::string written = calendar_text(*instant, iso);
    const auto read_back = vexlo::parse_time_expression(written);
    require(read_back == instant, "the instant written as a calendar text reads differently", written);
  }
  return 0;
}
