#include "vexlo/os/stop_signals.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "vexlo/os/file_system.h"

namespace vexlo::os {
namespace {

sigset_t stop_set(bool hangup) {
  sigset_t set;
  ::sigemptyset(&set);
  ::sigaddset(&set, SIGINT);
  ::sigaddset(&set, SIGTERM);
  if (hangup) ::sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

Result<StopSignals> StopSignals::block(bool hangup) {
  const sigset_t set = stop_set(hangup);
  sigset_t old_mask;
  if (const int error = ::pthread_sigmask(SIG_BLOCK, &set, &old_mask); error != 0) {
    return std::unexpected(os_error(error));
  }
  FileDescriptor fd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!fd.valid()) {
    const int error = errno;
    ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    return std::unexpected(os_error(error));
  }
  return StopSignals(std::move(fd), old_mask);
}

StopSignals::StopSignals(StopSignals&& other) noexcept : fd_(std::move(other.fd_)), old_mask_(other.old_mask_) {}

StopSignals::~StopSignals() {
  // A moved-from object has no descriptor and restores nothing. A signal
  // that asked for the stop is taken first, so that unblocking it does not
  // end the process after all.
  if (!fd_.valid()) return;
  signalfd_siginfo info;
  while (::read(fd_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
  }
  ::pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
}

void request_stop(std::thread::native_handle_type thread) { ::pthread_kill(thread, SIGTERM); }

bool StopSignals::requested() const {
  // The signal stays pending (it is not read), so that the answer stays.
  sigset_t pending;
  if (::sigpending(&pending) != 0) return false;
  return ::sigismember(&pending, SIGINT) == 1 || ::sigismember(&pending, SIGTERM) == 1;
}

Result<std::optional<std::size_t>> wait_readable(std::initializer_list<int> fds,
                                                 std::optional<std::chrono::milliseconds> timeout) {
  std::vector<pollfd> polled;
  for (const int fd : fds) polled.push_back(pollfd{fd, POLLIN, 0});
  const int wait_ms = timeout ? static_cast<int>(timeout->count()) : -1;
  for (;;) {
    const int ready = ::poll(polled.data(), polled.size(), wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return std::unexpected(os_error(errno));
    if (ready == 0) return std::nullopt;
    for (std::size_t i = 0; i < polled.size(); ++i) {
      if (polled[i].revents != 0) return i;
    }
  }
}

}  // namespace vexlo::os
