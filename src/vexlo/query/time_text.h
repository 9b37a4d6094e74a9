#pragma once
// Instants as the listings print them: in the calendar form that --since
// and --before read back, and in RFC 3339 for JSON.

#include <cstdint>
#include <optional>
#include <string>

namespace vexlo {

// "YYYY-MM-DD HH:MM:SS" in UTC, a form that parse_time_expression reads
// back to the same instant, for the years 0000 to 9999 that four digits
// write; the seconds in decimal for any instant outside them.
std::string time_expression_text(std::int64_t seconds);

// "YYYY-MM-DDTHH:MM:SSZ" for the years 0000 to 9999; no value outside
// them, where RFC 3339 has no form.
std::optional<std::string> rfc3339_text(std::int64_t seconds);

}  // namespace vexlo
