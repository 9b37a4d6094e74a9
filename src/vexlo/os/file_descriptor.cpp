#include "vexlo/os/file_descriptor.h"

#include <poll.h>

#include <cerrno>

#include "vexlo/os/os_error.h"

namespace vexlo::os {

Status write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n >= 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // The descriptor was handed over in non-blocking mode: wait until the
      // reader makes room rather than dropping output.
      struct pollfd ready = {fd, POLLOUT, 0};
      if (::poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
    }
    return std::unexpected(os_error(errno));
  }
  return {};
}

}  // namespace vexlo::os
