// The process entry: sets up the standard streams, runs once, writes the
// output out and turns a failed write into the exit status.

#include <cerrno>
#include <exception>
#include <new>
#include <ostream>
#include <string_view>
#include <vector>

#include "vexlo/app/output_status.h"
#include "vexlo/app/run.h"
#include "vexlo/os/file_system.h"
#include "vexlo/os/memory.h"
#include "vexlo/os/output_buffer.h"
#include "vexlo/os/pager.h"
#include "vexlo/os/process_resources.h"
#include "vexlo/os/standard_streams.h"

int main(int argc, char** argv) {
  vexlo::os::reserve_standard_descriptors();
  vexlo::os::ignore_broken_pipe_signal();
  vexlo::os::raise_open_file_limit();
  // A run may parse a large log twice (sync, then show): reuse the pages.
  vexlo::os::retain_freed_memory();

  vexlo::os::OutputBuffer out_buffer(vexlo::os::kStandardOutput, 64 * 1024);
  vexlo::os::OutputBuffer err_buffer(vexlo::os::kStandardError, 8 * 1024);
  out_buffer.flush_before_writing(err_buffer);
  err_buffer.flush_before_writing(out_buffer);
  std::ostream out(&out_buffer);
  std::ostream err(&err_buffer);

  // Arguments are passed on as the bytes received; the parser decides what
  // bytes that are not UTF-8 mean.
  const std::vector<std::string_view> args(argv, argv + argc);
  int status = 1;
  try {
    vexlo::TerminalOutput terminals{vexlo::os::is_terminal(vexlo::os::kStandardOutput),
                                    vexlo::os::is_terminal(vexlo::os::kStandardError),
                                    vexlo::os::environment_has_value("NO_COLOR")};
    if (const auto screen = vexlo::os::terminal_size(vexlo::os::kStandardOutput); screen && terminals.out) {
      terminals.rows = screen->rows;
      terminals.columns = screen->columns;
    }
    status = vexlo::run(args, out, err, terminals);
  } catch (const std::bad_alloc&) {
    // Memory ran out outside the reading of one input (see
    // common/out_of_memory.h): end with a message, not an abort.
    err << "vexlo: " << vexlo::os::error_text(ENOMEM) << '\n';
  } catch (const std::exception& e) {
    // Any other failure the standard library throws ends the run the same
    // way; none is expected.
    err << "vexlo: " << e.what() << '\n';
  }

  (void)out_buffer.flush();
  status = vexlo::exit_status_after_output(status, out_buffer.error(), err);
  // Nothing is left to tell about a failing standard error.
  (void)err_buffer.flush();
  return status;
}
