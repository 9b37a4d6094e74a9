#include "vexlo/os/standard_streams.h"

#include <cstdlib>

#include <fcntl.h>
#include <signal.h>
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

}  // namespace vexlo::os
