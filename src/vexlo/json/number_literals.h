#pragma once
// An exact look at the number literals of a JSON text, for the two cases the
// tape cannot tell apart or does not take: "-0", which must read as the float
// -0.0 rather than the integer 0, and integers beyond both 64-bit ranges,
// which must read as the nearest double.

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexlo::json {

// False when the text certainly holds no number literal "-0". A cheap
// filter: true may still mean the "-0" lies inside a string.
bool may_hold_negative_zero(std::string_view text);

// The positions, counted among the number literals of a valid JSON text in
// the order they appear, of the literals that are exactly "-0".
std::vector<std::size_t> negative_zero_ordinals(std::string_view text);

enum class RewriteFailure { NothingToRewrite, Overflow };

// Returns the text with every integer literal that fits neither 64-bit
// range replaced by the shortest text of the nearest double, which the
// parser then reads as that double. Fails with Overflow when such an integer
// exceeds the double range, and with NothingToRewrite when no literal needs
// replacing.
std::expected<std::string, RewriteFailure> rewrite_huge_integers(std::string_view text);

}  // namespace vexlo::json
