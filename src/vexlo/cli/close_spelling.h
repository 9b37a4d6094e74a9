#pragma once
// "Did you mean ...?": the known word that a mistyped one was most likely
// meant to be.

#include <optional>
#include <span>
#include <string_view>

namespace vexlo {

// The word of `known` (the first of the closest) that `typed` misses by at most two letters typed
// wrong, left out, added or swapped with the next (case does not count),
// and by less than half of the known word's letters after its dashes; no
// value when none is that close.
std::optional<std::string_view> close_spelling(std::string_view typed, std::span<const std::string_view> known);

}  // namespace vexlo
