#pragma once
// Random bytes from the kernel, for names that must not repeat.

#include <cstddef>
#include <string>

#include "vexlo/common/error.h"

namespace vexlo::os {

// `bytes` random bytes as lowercase hexadecimal digits, two per byte.
Result<std::string> random_hex(std::size_t bytes);

}  // namespace vexlo::os
