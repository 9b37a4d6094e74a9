#include "vexlo/os/os_error.h"

#include <cstring>

namespace vexlo::os {
namespace {

// strerror_r comes in two flavours; overloads pick whichever libc offers.
[[maybe_unused]] const char* strerror_result(int rc, const char* buffer) {
  return rc == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* strerror_result(const char* text, const char*) { return text; }

}  // namespace

std::string error_text(int errnum) {
  char buffer[256] = {};
  const char* text = strerror_result(strerror_r(errnum, buffer, sizeof buffer), buffer);
  return std::string(text) + " (os error " + std::to_string(errnum) + ")";
}

Error os_error(int errnum) { return Error{error_text(errnum), errnum}; }

}  // namespace vexlo::os
