#pragma once
// Time expressions of `logs --since/--before`: "-<n>day" or a UTC calendar
// date with an optional time of day.

#include <cstdint>
#include <optional>
#include <string_view>

namespace vexlo {

// Seconds since the epoch, or no value when the text is not an expression.
// Reads the clock only for the relative form.
std::optional<std::int64_t> parse_time_expression(std::string_view text);

}  // namespace vexlo
