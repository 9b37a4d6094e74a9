#pragma once
// Failures travel as values: every operation that can fail returns a
// Result<T> (or Status) whose error carries the text the user will see.

#include <expected>
#include <string>

namespace vexlo {

struct Error {
  std::string text;  // printable, without a trailing newline
  int os_code = 0;   // errno when the failure came from the system, else 0
};

template <class T>
using Result = std::expected<T, Error>;
using Status = std::expected<void, Error>;

}  // namespace vexlo
