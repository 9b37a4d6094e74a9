#include "vexlo/query/time_text.h"

#include <chrono>
#include <cstdio>

namespace vexlo {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Days from 1970-01-01 to 0000-01-01 and to 9999-12-31.
constexpr std::int64_t kFirstDay = -719528;
constexpr std::int64_t kLastDay = 2932896;

struct UtcTime {
  int year;
  unsigned month, day, hour, minute, second;
};

// No value outside the years 0000 to 9999.
std::optional<UtcTime> utc_time(std::int64_t seconds) {
  std::int64_t days = seconds / kSecondsPerDay;
  std::int64_t second_of_day = seconds % kSecondsPerDay;
  if (second_of_day < 0) {
    --days;
    second_of_day += kSecondsPerDay;
  }
  if (days < kFirstDay || days > kLastDay) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{days}}};
  const auto sod = static_cast<unsigned>(second_of_day);
  return UtcTime{static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                 static_cast<unsigned>(date.day()), sod / 3600, sod / 60 % 60, sod % 60};
}

std::string format(const UtcTime& t, const char* pattern) {
  char text[32];
  const int length = std::snprintf(text, sizeof text, pattern, t.year, t.month, t.day, t.hour, t.minute, t.second);
  return std::string(text, static_cast<std::size_t>(length));
}

}  // namespace

std::string time_expression_text(std::int64_t seconds) {
  if (const auto time = utc_time(seconds)) return format(*time, "%04d-%02u-%02u %02u:%02u:%02u");
  return std::to_string(seconds);
}

std::optional<std::string> rfc3339_text(std::int64_t seconds) {
  if (const auto time = utc_time(seconds)) return format(*time, "%04d-%02u-%02uT%02u:%02u:%02uZ");
  return std::nullopt;
}

}  // namespace vexlo
