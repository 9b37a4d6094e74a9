#pragma once
// Time expressions of `logs --since/--before`: a span before now ("-10day",
// "2 hours ago"), "now", "today", "yesterday", "@<epoch seconds>", or a UTC
// calendar date with an optional time of day (also in ISO 8601).

#include <cstdint>
#include <optional>
#include <string_view>

namespace vexlo {

// Seconds since the epoch, or no value when the text is not an expression.
// Reads the clock only for the forms counted from now.
std::optional<std::int64_t> parse_time_expression(std::string_view text);

}  // namespace vexlo
