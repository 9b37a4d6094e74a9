#pragma once
// SIGINT and SIGTERM taken as requests to stop at a point of the run's own
// choosing, rather than as the end of the process wherever it stands.

#include <signal.h>

#include <chrono>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <thread>

#include "vexlo/common/error.h"
#include "vexlo/os/file_descriptor.h"

namespace vexlo::os {

class StopSignals {
 public:
  // Blocks SIGINT and SIGTERM in the calling thread, and so in every thread
  // it starts later, and makes them readable from a descriptor; with
  // `hangup`, SIGHUP too. Call it before any other thread is started. The
  // old signal mask comes back when the object goes.
  static Result<StopSignals> block(bool hangup = false);
  StopSignals(StopSignals&& other) noexcept;
  StopSignals& operator=(StopSignals&&) = delete;
  ~StopSignals();

  // Readable once a stop signal is pending.
  int fd() const { return fd_.get(); }
  // Whether a stop signal is pending; never waits.
  bool requested() const;

 private:
  StopSignals(FileDescriptor fd, const sigset_t& old_mask) : fd_(std::move(fd)), old_mask_(old_mask) {}
  FileDescriptor fd_;
  sigset_t old_mask_;
};

// Asks `thread` to stop, as a SIGTERM from outside would: when it waits on
// a StopSignals descriptor, it wakes up. The signal goes to that thread
// alone, not to the process: a thread that does not block it (one a
// runtime library started before the signals were blocked) would
// otherwise take it and end the process.
void request_stop(std::thread::native_handle_type thread);

// Waits until one of `fds` is readable or `timeout` passes (for ever
// without one; an interrupted wait goes on). Returns the position of the
// first readable descriptor in `fds`, or none at the timeout.
Result<std::optional<std::size_t>> wait_readable(std::initializer_list<int> fds,
                                                 std::optional<std::chrono::milliseconds> timeout);

}  // namespace vexlo::os
