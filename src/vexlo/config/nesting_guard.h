#pragma once
// The parser builds and walks its tree recursively, and the depth of a
// table is bounded only by the parts of the dotted keys and table headers
// that lead to it, so a long enough key (a.a.a... a hundred thousand times)
// exhausts the stack. Every part of a dotted key after the first costs a
// dot on the key's line, and a table's depth is set by at most one header
// line and one key line, so capping the dots per line outside strings and
// comments caps the depth.

#include <cstddef>
#include <optional>
#include <string_view>

#include "vexlo/config/config_error.h"

namespace vexlo::config {

inline constexpr std::size_t kMaxDotsPerLine = 1000;

// An error at the first dot beyond the limit, if any. `text` is the
// document without its byte-order mark.
std::optional<ConfigError> find_excessive_nesting(std::string_view text);

}  // namespace vexlo::config
