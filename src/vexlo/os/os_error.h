#pragma once
// Errors of the operating system as the tool's Error values, for every
// part of the os layer.

#include <string>

#include "vexlo/common/error.h"

namespace vexlo::os {

// "<strerror_r text> (os error N)".
std::string error_text(int errnum);
Error os_error(int errnum);

}  // namespace vexlo::os
