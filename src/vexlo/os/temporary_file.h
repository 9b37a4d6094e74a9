#pragma once
// Replacing a file so that a crash at any moment leaves either its old or
// its new content: the new content goes to a temporary file in the same
// directory, is flushed to stable storage and is then renamed over the old
// file.

#include <string>
#include <string_view>
#include <utility>

#include "vexlo/common/error.h"
#include "vexlo/os/file_descriptor.h"

namespace vexlo::os {

class TemporaryFile {
 public:
  // Creates a new file "<directory>/<prefix><process id>.<n>" that did not
  // exist before, with permission bits 0666 less the umask.
  static Result<TemporaryFile> create(const std::string& directory, std::string_view prefix);

  TemporaryFile(TemporaryFile&& other) noexcept
      : fd_(std::move(other.fd_)), path_(std::exchange(other.path_, std::string())) {}
  TemporaryFile& operator=(TemporaryFile&&) = delete;
  // Removes the file unless it was committed.
  ~TemporaryFile();

  const std::string& path() const { return path_; }

  // Writes all bytes, retrying interrupted writes.
  Status write_all(std::string_view data);
  // Flushes the content to stable storage.
  Status sync();
  // Takes over the read, write and execute bits of an existing regular file
  // (not a link) at `target`,
  // closes the file and renames it to `target`, then flushes the directory
  // entry. On failure the temporary file is removed.
  Status commit(const std::string& target);

 private:
  TemporaryFile(FileDescriptor fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}
  FileDescriptor fd_;
  std::string path_;  // empty once committed or moved from
};

// Removes a directory entry that is not a directory.
Status remove_file(const std::string& path);

// Flushes a directory's entries (a rename done in it) to stable storage.
Status sync_directory(const std::string& path);

}  // namespace vexlo::os
