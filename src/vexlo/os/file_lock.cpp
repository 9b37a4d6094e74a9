#include "vexlo/os/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "vexlo/os/file_system.h"

namespace vexlo::os {
namespace {

using Clock = std::chrono::steady_clock;

// How often a held lock is tried again.
constexpr std::chrono::milliseconds kRetryInterval{20};

Result<FileDescriptor> open_lock_file(const Directory& directory, const std::string& name) {
  // Only the owner may open a new lock file, so that no other user can take
  // the lock.
  FileDescriptor created(
      ::openat(directory.fd(), name.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (created.valid()) return created;
  if (errno != EEXIST) return std::unexpected(os_error(errno));
  auto existing = open_regular_file(directory.fd(), name, Links::DoNotFollow);
  if (!existing) return std::unexpected(existing.error());
  return std::move(existing->fd);
}

}  // namespace

// flock locks belong to the open file description, so the kernel drops the
// lock as soon as the descriptor is closed, however the process ends.
Result<FileLock> FileLock::acquire(const Directory& directory, const std::string& name, const LockWait& wait) {
  auto fd = open_lock_file(directory, name);
  if (!fd) return std::unexpected(fd.error());
  const auto started = Clock::now();
  const auto deadline = started + wait.limit;
  bool noticed = false;
  for (;;) {
    if (::flock(fd->get(), LOCK_EX | LOCK_NB) == 0) return FileLock(std::move(*fd));
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return std::unexpected(os_error(errno));
    const auto now = Clock::now();
    if (now >= deadline) return std::unexpected(os_error(EWOULDBLOCK));
    if (!noticed && now - started >= wait.notice_after) {
      noticed = true;
      if (wait.on_long_wait) wait.on_long_wait();
    }
    std::this_thread::sleep_for(std::min<Clock::duration>(kRetryInterval, deadline - now));
  }
}

}  // namespace vexlo::os
