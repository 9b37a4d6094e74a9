#include "vexlo/os/temporary_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "vexlo/os/file_descriptor.h"
#include "vexlo/os/file_system.h"

namespace vexlo::os {
namespace {

// Names already taken (left by a killed process whose ID came round again)
// are skipped; this bounds the search.
constexpr int kMaxNameAttempts = 1000;

// Permission bits a replacement may take over: read and write only, and
// writing for the owner alone.
constexpr mode_t kKeptPermissions = kNewFileMode;

std::string temporary_prefix(std::string_view name) { return std::string(name) + ".tmp."; }

// The steps of replace_file.
class TemporaryFile {
 public:
  // Creates a new file "<prefix><process id>.<n>" in `directory` that did
  // not exist before (O_EXCL, O_NOFOLLOW), mode kNewFileMode (or 0600 for
  // OwnerOnly) less the umask.
  static Result<TemporaryFile> create(const Directory& directory, std::string_view prefix, Permissions permissions);

  TemporaryFile(TemporaryFile&& other) noexcept
      : directory_(other.directory_),
        fd_(std::move(other.fd_)),
        name_(std::exchange(other.name_, std::string())),
        permissions_(other.permissions_) {}
  TemporaryFile& operator=(TemporaryFile&&) = delete;
  // Removes the file unless it was committed.
  ~TemporaryFile();

  Status write_all(std::string_view data);
  // Flushes the content to stable storage.
  Status sync();
  // For LikeReplaced, takes over the permission bits (& 0644) of a regular
  // file `target` in the directory; closes the file and renames it to
  // `target`, then flushes the directory. On failure the temporary file is
  // removed.
  Status commit(const std::string& target);

 private:
  TemporaryFile(const Directory& directory, FileDescriptor fd, std::string name, Permissions permissions)
      : directory_(&directory), fd_(std::move(fd)), name_(std::move(name)), permissions_(permissions) {}
  const Directory* directory_;
  FileDescriptor fd_;
  std::string name_;  // empty once committed or moved from
  Permissions permissions_;
};

Result<TemporaryFile> TemporaryFile::create(const Directory& directory, std::string_view prefix,
                                           Permissions permissions) {
  const std::string stem = std::string(prefix) + std::to_string(::getpid()) + ".";
  const mode_t mode = permissions == Permissions::OwnerOnly ? 0600 : kNewFileMode;
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    std::string name = stem + std::to_string(attempt);
    FileDescriptor fd(
        ::openat(directory.fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
    if (fd.valid()) return TemporaryFile(directory, std::move(fd), std::move(name), permissions);
    if (errno != EEXIST) return std::unexpected(os_error(errno));
  }
  return std::unexpected(os_error(EEXIST));
}

TemporaryFile::~TemporaryFile() {
  if (name_.empty()) return;
  fd_.reset();
  (void)directory_->remove(name_);
}

Status TemporaryFile::write_all(std::string_view data) { return os::write_all(fd_.get(), data); }

Status TemporaryFile::sync() {
  if (::fsync(fd_.get()) != 0) return std::unexpected(os_error(errno));
  return {};
}

Status TemporaryFile::commit(const std::string& target) {
  // The replacement keeps the read and write rights that the old file was
  // given; the old entry is looked at, not what a link there points to.
  struct stat old_file;
  if (permissions_ == Permissions::LikeReplaced &&
      ::fstatat(directory_->fd(), target.c_str(), &old_file, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(old_file.st_mode) && ::fchmod(fd_.get(), old_file.st_mode & kKeptPermissions) != 0) {
    return std::unexpected(os_error(errno));
  }
  if (fd_.close() != 0) return std::unexpected(os_error(errno));
  if (::renameat(directory_->fd(), name_.c_str(), directory_->fd(), target.c_str()) != 0) {
    return std::unexpected(os_error(errno));
  }
  name_.clear();
  // The new content is already safe; a directory that cannot be flushed
  // only risks the rename itself, so its failure is not reported.
  (void)directory_->sync();
  return {};
}

}  // namespace

Status replace_file(const Directory& directory, const std::string& name, std::string_view content,
                    Permissions permissions) {
  return replace_file(
      directory, name, [content](const auto& write) { return write(content); }, permissions);
}

Status replace_file(const Directory& directory, const std::string& name, const ContentPieces& content,
                    Permissions permissions) {
  auto temporary = TemporaryFile::create(directory, temporary_prefix(name), permissions);
  if (!temporary) return std::unexpected(temporary.error());
  const auto write = [&temporary](std::string_view piece) { return temporary->write_all(piece); };
  if (auto written = content(write); !written) return written;
  if (auto synced = temporary->sync(); !synced) return synced;
  return temporary->commit(name);
}

void remove_temporary_files(const Directory& directory, std::string_view name) {
  const auto names = directory.list();
  if (!names) return;
  const std::string prefix = temporary_prefix(name);
  for (const auto& entry : *names) {
    if (entry.starts_with(prefix)) (void)directory.remove(entry);
  }
}

}  // namespace vexlo::os
