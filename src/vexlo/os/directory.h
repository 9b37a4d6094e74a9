#pragma once
// A directory opened once. Everything done in it goes relative to the open
// descriptor, so that replacing the directory's path with a link, or with
// another directory, while a run works in it changes nothing, and so that
// the length of its path never matters for what is done inside it.

#include <string>
#include <vector>

#include "vexlo/common/error.h"
#include "vexlo/os/file_descriptor.h"
#include "vexlo/os/file_system.h"

namespace vexlo::os {

class Directory {
 public:
  // The directory `path` names. With Links::DoNotFollow a path whose last
  // component is a symbolic link gives ELOOP; one that is no directory
  // gives ENOTDIR.
  static Result<Directory> open(const std::string& path, Links links = Links::DoNotFollow);
  // The directory `name` (no "/" in it) inside this one, whose path is
  // this one's joined with `name`.
  Result<Directory> open_entry(const std::string& name, Links links) const;

  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }  // as opened, for messages

  // Status of the directory itself.
  Result<FileStatus> status() const;
  // Status of the entry `name`; with Links::DoNotFollow, a symbolic link is
  // FileType::Link.
  Result<FileStatus> status(const std::string& name, Links links) const;
  // Names in the directory in the order the system yields them, without
  // "." and "..". With `Entries::MayBeDirectories`, only the names that the
  // listing does not show to be something else (a regular file, say): a
  // link or a name of unknown type is kept.
  enum class Entries { All, MayBeDirectories };
  Result<std::vector<std::string>> list(Entries entries = Entries::All) const;
  // The text of the symbolic link `name`.
  Result<std::string> read_link(const std::string& name) const;
  // Removes an entry that is not a directory (a link itself, not its target).
  Status remove(const std::string& name) const;
  // Flushes the directory's entries (a rename done in it) to stable storage.
  Status sync() const;

 private:
  Directory(FileDescriptor fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}
  static Result<Directory> open_at(int directory_fd, const std::string& name, std::string path, Links links);
  FileDescriptor fd_;
  std::string path_;
};

}  // namespace vexlo::os
