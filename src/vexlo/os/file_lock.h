#pragma once
// An exclusive advisory lock on a file inside a directory, held by this
// process until it is released or the process ends (also when it is
// killed). Waiting for it is bounded, so that another process holding it
// (a stopped run, or anyone who may open the file) delays a run by at most
// that bound.

#include <chrono>
#include <functional>
#include <string>

#include "vexlo/common/error.h"
#include "vexlo/os/directory.h"
#include "vexlo/os/file_descriptor.h"

namespace vexlo::os {

struct LockWait {
  std::chrono::milliseconds limit{10000};
  // After this long, `on_long_wait` is called once (to say why nothing
  // seems to happen).
  std::chrono::milliseconds notice_after{1000};
  std::function<void()> on_long_wait;
};

class FileLock {
 public:
  FileLock() = default;  // holds nothing

  // Opens the file `name` in `directory`, creating it with mode 0600 if it
  // is missing (never through a link, and only a regular file), and locks
  // it. Gives EWOULDBLOCK when another holder keeps it past the limit.
  static Result<FileLock> acquire(const Directory& directory, const std::string& name, const LockWait& wait);

  bool held() const { return fd_.valid(); }
  void release() { fd_.reset(); }

 private:
  explicit FileLock(FileDescriptor fd) : fd_(std::move(fd)) {}
  FileDescriptor fd_;
};

}  // namespace vexlo::os
