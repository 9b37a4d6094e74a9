#pragma once
// Strict decimal numbers, as the command line and the time expressions take
// them: an optional sign, one or more ASCII digits and nothing else, within
// the 64-bit range. Anything else gives no value, so that callers can fall
// back to their default.

#include <cstdint>
#include <optional>
#include <string_view>

namespace vexlo {

// Optional single "+" or "-"; leading zeros allowed; -9223372036854775808
// to 9223372036854775807.
std::optional<std::int64_t> parse_signed_decimal(std::string_view text);

// Optional single "+"; leading zeros allowed; 0 to 18446744073709551615.
std::optional<std::uint64_t> parse_unsigned_decimal(std::string_view text);

}  // namespace vexlo
