#pragma once
// An exclusive advisory lock on a directory, held by this process until it
// is released or the process ends (also when it is killed).

#include <string>

#include "vexlo/common/error.h"
#include "vexlo/os/file_descriptor.h"

namespace vexlo::os {

class DirectoryLock {
 public:
  DirectoryLock() = default;  // holds nothing

  // Waits until no other holder is left, then takes the lock. Fails when
  // the directory cannot be opened or its file system offers no locks.
  static Result<DirectoryLock> acquire(const std::string& directory);

  bool held() const { return fd_.valid(); }
  void release() { fd_.reset(); }

 private:
  explicit DirectoryLock(FileDescriptor fd) : fd_(std::move(fd)) {}
  FileDescriptor fd_;
};

}  // namespace vexlo::os
