#pragma once
// How the tool's own files are read in pieces rather than whole.

#include <cstdint>
#include <functional>
#include <span>

#include "vexlo/common/error.h"

namespace vexlo {

// Reads up to `into.size()` bytes of a file from `offset` on: how many were
// read, 0 at its end.
using ReadFileAt = std::function<Result<std::size_t>(std::uint64_t offset, std::span<char> into)>;

}  // namespace vexlo
