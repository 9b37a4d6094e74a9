#include "vexlo/os/standard_streams.h"

#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace vexlo::os {

void reserve_standard_descriptors() {
  for (const int fd : {kStandardInput, kStandardOutput, kStandardError}) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open returns the lowest free number, which is `fd` itself, since the
    // lower ones are open by now.
    const int opened = ::open("/dev/null", O_RDONLY);
    if (opened != fd && opened >= 0) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

void ignore_broken_pipe_signal() { ::signal(SIGPIPE, SIG_IGN); }

bool is_terminal(int fd) { return ::isatty(fd) == 1; }

bool environment_has_value(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

bool hung_up(int fd) {
  pollfd looked{.fd = fd, .events = POLLIN, .revents = 0};
  return ::poll(&looked, 1, 0) > 0 && (looked.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool wait_until_read(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISFIFO(status.st_mode)) return true;
  constexpr int kLookEveryMs = 10;
  for (;;) {
    // The bytes still in the pipe, which the write end may ask too.
    int unread = 0;
    if (::ioctl(fd, FIONREAD, &unread) != 0 || unread == 0) return true;
    // With no events asked, poll still tells that the reader has gone.
    pollfd looked{.fd = fd, .events = 0, .revents = 0};
    if (::poll(&looked, 1, kLookEveryMs) > 0 && (looked.revents & (POLLERR | POLLHUP)) != 0) return false;
  }
}

}  // namespace vexlo::os
