#pragma once
// An owned file descriptor, closed when it goes out of scope, and the one
// loop that writes a whole buffer to a descriptor.

#include <unistd.h>

#include <string_view>
#include <utility>

#include "vexlo/common/error.h"

namespace vexlo::os {

class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  void reset() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }
  // Closes now and returns what close itself returned (0, or -1 with errno
  // set): some file systems report a failed write only here.
  int close() { return fd_ >= 0 ? ::close(std::exchange(fd_, -1)) : 0; }

 private:
  int fd_ = -1;
};

// Writes all bytes, retrying after interruptions and waiting while a
// non-blocking descriptor is full.
Status write_all(int fd, std::string_view data);

}  // namespace vexlo::os
