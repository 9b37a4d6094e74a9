#include "vexlo/os/directory_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "vexlo/os/file_system.h"

namespace vexlo::os {

// flock locks belong to the open file description, so the kernel drops the
// lock as soon as the descriptor is closed, however the process ends.
Result<DirectoryLock> DirectoryLock::acquire(const std::string& directory) {
  FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return std::unexpected(os_error(errno));
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return std::unexpected(os_error(errno));
  }
  return DirectoryLock(std::move(fd));
}

}  // namespace vexlo::os
