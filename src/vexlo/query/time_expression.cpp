// Three kinds of expression, all in UTC:
// - words for instants near now: "now", "today" and "yesterday" (midnight
//   at the start of the day);
// - spans counted back from the current second: "-<n><unit>" and
//   "<n> <unit> ago", where a unit is s, sec, min, h, hour, d, day, w or
//   week, the longer ones also in the plural ("-10day", "-90min",
//   "2 weeks ago"); "-<n>dayday..." reads as "-<n>day", as it always has;
// - fixed instants: "@<seconds since 1970>", and a calendar date with an
//   optional time of day, either "YYYY-MM-DD [HH:MM[:SS]]" or ISO 8601
//   "YYYY-MM-DDTHH:MM[:SS][Z]" (the form JSON listings print). The date
//   forms are tried in the order of kCalendarFormats; the first that
//   matches the whole text gives the instant.
//
// The calendar forms are read by a small scanner that walks a strftime-style
// format ("%Y-%m-%d %H:%M:%S") over the text: "%" and a letter is a numeric
// field, a blank matches any run of white space (none included), and every
// other character must stand in the text literally. White space is skipped
// before every numeric field, and the whole text must be used.

#include "vexlo/query/time_expression.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "vexlo/common/decimal.h"
#include "vexlo/os/file_system.h"

namespace vexlo {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// Tried in this order. Each must match the whole text, so at most one of
// them can: a date alone is midnight, a time without seconds is second 0.
constexpr std::array<std::string_view, 7> kCalendarFormats = {
    "%Y-%m-%d",          "%Y-%m-%d %H:%M",     "%Y-%m-%d %H:%M:%S",   "%Y-%m-%dT%H:%M",
    "%Y-%m-%dT%H:%M:%S", "%Y-%m-%dT%H:%MZ",    "%Y-%m-%dT%H:%M:%SZ",
};

constexpr std::int64_t kMinYear = -262143;
constexpr std::int64_t kMaxYear = 262142;

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// --- Relative forms ------------------------------------------------------

struct Unit {
  std::string_view name;
  std::int64_t seconds;
};

constexpr Unit kUnits[] = {
    {"s", 1},       {"sec", 1},       {"min", 60},     {"h", 3600},          {"hour", 3600},
    {"d", kSecondsPerDay}, {"day", kSecondsPerDay}, {"w", 7 * kSecondsPerDay}, {"week", 7 * kSecondsPerDay},
};

bool is_lower_letter(char c) { return c >= 'a' && c <= 'z'; }

// The seconds of one unit: its name, the plural of a name longer than a
// letter ("secs", not "ss"), or "day" repeated.
std::optional<std::int64_t> unit_seconds(std::string_view word) {
  for (const Unit& unit : kUnits) {
    if (word == unit.name) return unit.seconds;
    if (unit.name.size() > 1 && word.size() == unit.name.size() + 1 && word.starts_with(unit.name) &&
        word.ends_with('s')) {
      return unit.seconds;
    }
  }
  std::string_view days = word;
  while (days.starts_with("day")) days.remove_prefix(3);
  if (!word.empty() && days.empty()) return kSecondsPerDay;
  return std::nullopt;
}

// `count` units before now. A span so large that the instant leaves the
// 64-bit range gives no value rather than a wrapped one.
std::optional<std::int64_t> span_before_now(std::string_view count, std::string_view unit) {
  const auto number = parse_signed_decimal(count);
  const auto seconds = unit_seconds(unit);
  if (!number || !seconds) return std::nullopt;
  std::int64_t offset = 0;
  if (__builtin_mul_overflow(*number, *seconds, &offset)) return std::nullopt;
  std::int64_t instant = 0;
  if (__builtin_sub_overflow(os::now_seconds(), offset, &instant)) return std::nullopt;
  return instant;
}

// "-<n><unit>": the count may carry a sign of its own ("--1day" is a day
// ahead), as the first form did.
std::optional<std::int64_t> minus_form(std::string_view text) {
  if (!text.starts_with('-')) return std::nullopt;
  const std::string_view rest = text.substr(1);
  std::size_t unit_start = rest.size();
  while (unit_start > 0 && is_lower_letter(rest[unit_start - 1])) --unit_start;
  return span_before_now(rest.substr(0, unit_start), rest.substr(unit_start));
}

// "<n> <unit> ago", with one or more blanks between the words and a count
// of plain digits.
std::optional<std::int64_t> ago_form(std::string_view text) {
  constexpr std::string_view kAgo = " ago";
  if (!text.ends_with(kAgo)) return std::nullopt;
  std::string_view rest = text.substr(0, text.size() - kAgo.size());
  while (rest.ends_with(' ')) rest.remove_suffix(1);
  const std::size_t blank = rest.find(' ');
  if (blank == std::string_view::npos || !is_ascii_digit(rest.front())) return std::nullopt;
  const std::string_view count = rest.substr(0, blank);
  std::string_view unit = rest.substr(blank);
  while (unit.starts_with(' ')) unit.remove_prefix(1);
  return span_before_now(count, unit);
}

// "now", "today" and "yesterday".
std::optional<std::int64_t> named_instant(std::string_view text) {
  if (text != "now" && text != "today" && text != "yesterday") return std::nullopt;
  const std::int64_t now = os::now_seconds();
  if (text == "now") return now;
  // Midnight at the start of the day, also before 1970.
  const std::int64_t midnight = now - ((now % kSecondsPerDay) + kSecondsPerDay) % kSecondsPerDay;
  return text == "today" ? midnight : midnight - kSecondsPerDay;
}

// --- Calendar forms ------------------------------------------------------

// UTF-8 encodings of the Unicode White_Space characters. An encoding is
// unique, so comparing bytes is the same as decoding and comparing code
// points, and malformed or overlong sequences never match.
constexpr std::array<std::string_view, 25> kWhiteSpace = {
    "\t", "\n", "\v", "\f", "\r", " ",
    "\xC2\x85",      // U+0085 next line
    "\xC2\xA0",      // U+00A0 no-break space
    "\xE1\x9A\x80",  // U+1680 ogham space mark
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84",
    "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89",
    "\xE2\x80\x8A",  // U+2000..U+200A
    "\xE2\x80\xA8",  // U+2028 line separator
    "\xE2\x80\xA9",  // U+2029 paragraph separator
    "\xE2\x80\xAF",  // U+202F narrow no-break space
    "\xE2\x81\x9F",  // U+205F medium mathematical space
    "\xE3\x80\x80",  // U+3000 ideographic space
};

struct CalendarFields {
  std::int64_t year = 0;
  std::int64_t month = 1;
  std::int64_t day = 1;
  std::optional<std::int64_t> hour;
  std::optional<std::int64_t> minute;
  std::optional<std::int64_t> second;
};

class CalendarScanner {
 public:
  explicit CalendarScanner(std::string_view text) : text_(text) {}

  // The fields of `format` read from the whole text, or no value.
  std::optional<CalendarFields> scan(std::string_view format) {
    CalendarFields fields;
    for (std::size_t i = 0; i < format.size(); ++i) {
      const char c = format[i];
      if (c == '%' && i + 1 < format.size()) {
        if (!read_field(format[++i], fields)) return std::nullopt;
      } else if (c == ' ') {
        skip_white_space();
      } else if (at_ < text_.size() && text_[at_] == c) {
        ++at_;
      } else {
        return std::nullopt;
      }
    }
    if (at_ != text_.size()) return std::nullopt;
    return fields;
  }

 private:
  std::size_t white_space_length() const {
    const std::string_view rest = text_.substr(at_);
    for (std::string_view space : kWhiteSpace) {
      if (rest.starts_with(space)) return space.size();
    }
    return 0;
  }

  void skip_white_space() {
    while (const std::size_t length = white_space_length()) at_ += length;
  }

  // Between one and `max_digits` ASCII digits, as many as stand there. A
  // value past kDigitsCap stays there: it is out of range for every field,
  // and the cap keeps a long run of digits from overflowing.
  std::optional<std::int64_t> read_digits(std::size_t max_digits) {
    constexpr std::int64_t kDigitsCap = 1'000'000'000'000;
    std::int64_t value = 0;
    std::size_t count = 0;
    while (count < max_digits && at_ < text_.size() && is_ascii_digit(text_[at_])) {
      value = std::min(value * 10 + (text_[at_] - '0'), kDigitsCap);
      ++at_;
      ++count;
    }
    if (count == 0) return std::nullopt;
    return value;
  }

  // One to four digits, or a sign followed by any number of digits.
  std::optional<std::int64_t> read_year() {
    if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) {
      const bool negative = text_[at_] == '-';
      ++at_;
      const auto magnitude = read_digits(std::string_view::npos);
      if (!magnitude) return std::nullopt;
      return negative ? -*magnitude : *magnitude;
    }
    return read_digits(4);
  }

  std::optional<std::int64_t> read_number(char field) {
    skip_white_space();
    if (field == 'Y') return read_year();
    return read_digits(2);
  }

  bool read_field(char field, CalendarFields& fields) {
    const auto value = read_number(field);
    if (!value) return false;
    const auto within = [&](std::int64_t low, std::int64_t high) {
      return *value >= low && *value <= high;
    };
    switch (field) {
      case 'Y':
        fields.year = *value;
        return within(kMinYear, kMaxYear);
      case 'm':
        fields.month = *value;
        return within(1, 12);
      case 'd':
        fields.day = *value;
        return within(1, 31);
      case 'H':
        fields.hour = *value;
        return within(0, 23);
      case 'M':
        fields.minute = *value;
        return within(0, 59);
      case 'S':
        fields.second = *value;
        return within(0, 60);
      default:
        return false;
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

// Days from 1970-01-01 to the date, or no value when the date does not
// exist. std::chrono::year reaches only +-32767, so the year is first moved
// into 2000..2399: the calendar repeats itself every 400 years, which hold
// exactly 146097 days.
std::optional<std::int64_t> days_since_epoch(std::int64_t year, std::int64_t month,
                                             std::int64_t day) {
  constexpr std::int64_t kCycleYears = 400;
  constexpr std::int64_t kCycleDays = 146097;
  const std::int64_t year_in_cycle = ((year % kCycleYears) + kCycleYears) % kCycleYears;
  const std::int64_t cycles = (year - year_in_cycle) / kCycleYears - 5;
  const std::chrono::year_month_day date{
      std::chrono::year{static_cast<int>(2000 + year_in_cycle)},
      std::chrono::month{static_cast<unsigned>(month)},
      std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok()) return std::nullopt;
  const std::int64_t days = std::chrono::sys_days{date}.time_since_epoch().count();
  return days + cycles * kCycleDays;
}

std::optional<std::int64_t> calendar_instant(const CalendarFields& fields) {
  const auto days = days_since_epoch(fields.year, fields.month, fields.day);
  if (!days) return std::nullopt;
  std::int64_t seconds_of_day = 0;
  if (fields.hour && fields.minute) {
    // A leap second is read as the last ordinary second of its minute.
    const std::int64_t second = std::min<std::int64_t>(fields.second.value_or(0), 59);
    seconds_of_day = *fields.hour * 3600 + *fields.minute * 60 + second;
  }
  return *days * kSecondsPerDay + seconds_of_day;
}

// A format with a time of day is matched whole or not at all, so its date is
// only ever read together with its time; the date alone (midnight) comes
// from the format without one.
std::optional<std::int64_t> parse_calendar(std::string_view text) {
  for (std::string_view format : kCalendarFormats) {
    const auto fields = CalendarScanner(text).scan(format);
    if (!fields) continue;
    if (const auto instant = calendar_instant(*fields)) return instant;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> parse_time_expression(std::string_view text) {
  if (text.empty()) return std::nullopt;
  if (text.starts_with('@')) return parse_signed_decimal(text.substr(1));
  if (const auto named = named_instant(text)) return named;
  if (const auto back = minus_form(text)) return back;
  if (const auto ago = ago_form(text)) return ago;
  return parse_calendar(text);
}

}  // namespace vexlo
