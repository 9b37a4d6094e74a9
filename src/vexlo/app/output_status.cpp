#include "vexlo/app/output_status.h"

#include <cerrno>

namespace vexlo {

int exit_status_after_output(int run_status, const std::optional<Error>& output_error, std::ostream& err) {
  if (!output_error) return run_status;
  if (output_error->os_code == EPIPE) return kBrokenPipeStatus;
  err << "vexlo: error writing output: " << output_error->text << '\n';
  return 1;
}

}  // namespace vexlo
