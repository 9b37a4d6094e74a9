#pragma once
// A directory opened once, never through a symbolic link at its last
// component. Everything done in it goes relative to the open descriptor,
// so that replacing the directory's path with a link, or with another
// directory, while a run works in it changes nothing.

#include <string>
#include <vector>

#include "vexlo/common/error.h"
#include "vexlo/os/file_descriptor.h"

namespace vexlo::os {

class Directory {
 public:
  // A path whose last component is a symbolic link gives ELOOP, one that is
  // no directory ENOTDIR.
  static Result<Directory> open(const std::string& path);

  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }  // as opened, for messages

  // Names in the directory, without "." and "..".
  Result<std::vector<std::string>> list() const;
  // Removes an entry that is not a directory (a link itself, not its target).
  Status remove(const std::string& name) const;
  // Flushes the directory's entries (a rename done in it) to stable storage.
  Status sync() const;

 private:
  Directory(FileDescriptor fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}
  FileDescriptor fd_;
  std::string path_;
};

}  // namespace vexlo::os
