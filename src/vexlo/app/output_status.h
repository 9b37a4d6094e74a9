#pragma once
// What a failed write of the program's output means for its exit status.

#include <optional>
#include <ostream>

#include "vexlo/common/error.h"

namespace vexlo {

// The status shells report for a program stopped by a closed pipe
// (128 + SIGPIPE); a run whose reader went away ends with it.
inline constexpr int kBrokenPipeStatus = 141;

// The exit status once standard output has been written out (or failed).
// A reader that went away (EPIPE, as in `vexlo list | head -1`) ends the run
// quietly with kBrokenPipeStatus. Any other write error is reported on `err`
// as "vexlo: error writing output: " and the error text, and gives 1.
int exit_status_after_output(int run_status, const std::optional<Error>& output_error, std::ostream& err);

}  // namespace vexlo
