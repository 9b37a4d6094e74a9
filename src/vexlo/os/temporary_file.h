#pragma once
// Replacing a file so that a crash at any moment leaves either its old or
// its new content: the new content goes to a temporary file in the same
// directory, is flushed to stable storage and is then renamed over the old
// file. Everything happens relative to an open Directory, with files that
// did not exist before: the old file (or whatever stands at its name) is
// never opened, followed or changed, only replaced.

#include <string>
#include <string_view>
#include <utility>

#include "vexlo/common/error.h"
#include "vexlo/os/directory.h"
#include "vexlo/os/file_descriptor.h"

namespace vexlo::os {

// Writes `content` to a new temporary file "<name>.tmp.<process id>.<n>" in
// `directory` and renames it to `name`. The new file takes the permission
// bits of a regular file it replaces, limited to 0666 (never set-ID,
// sticky or execute bits), and else 0666 less the umask. On failure
// nothing is left behind and the old file stays as it was.
Status replace_file(const Directory& directory, const std::string& name, std::string_view content);

// Removes the temporary files of replace_file for `name` that runs killed
// before their rename left behind. Only for a caller that holds a lock
// keeping every other writer of `name` out.
void remove_temporary_files(const Directory& directory, std::string_view name);

// The steps of replace_file, for callers that write in pieces.
class TemporaryFile {
 public:
  // Creates a new file "<prefix><process id>.<n>" in `directory` that did
  // not exist before (O_EXCL, O_NOFOLLOW), mode 0666 less the umask.
  static Result<TemporaryFile> create(const Directory& directory, std::string_view prefix);

  TemporaryFile(TemporaryFile&& other) noexcept
      : directory_(other.directory_), fd_(std::move(other.fd_)), name_(std::exchange(other.name_, std::string())) {}
  TemporaryFile& operator=(TemporaryFile&&) = delete;
  // Removes the file unless it was committed.
  ~TemporaryFile();

  const std::string& name() const { return name_; }

  Status write_all(std::string_view data);
  // Flushes the content to stable storage.
  Status sync();
  // Takes over the permission bits (& 0666) of a regular file `target` in
  // the directory, closes the file and renames it to `target`, then
  // flushes the directory. On failure the temporary file is removed.
  Status commit(const std::string& target);

 private:
  TemporaryFile(const Directory& directory, FileDescriptor fd, std::string name)
      : directory_(&directory), fd_(std::move(fd)), name_(std::move(name)) {}
  const Directory* directory_;
  FileDescriptor fd_;
  std::string name_;  // empty once committed or moved from
};

}  // namespace vexlo::os
