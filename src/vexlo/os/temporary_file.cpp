#include "vexlo/os/temporary_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "vexlo/os/file_system.h"

namespace vexlo::os {
namespace {

// Names already taken (left by a killed process whose ID came round again)
// are skipped; this bounds the search.
constexpr int kMaxNameAttempts = 1000;

std::string parent_directory(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

Result<TemporaryFile> TemporaryFile::create(const std::string& directory, std::string_view prefix) {
  const std::string stem = join_path(directory, prefix) + std::to_string(::getpid()) + ".";
  for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    std::string path = stem + std::to_string(attempt);
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (fd.valid()) return TemporaryFile(std::move(fd), std::move(path));
    if (errno != EEXIST) return std::unexpected(os_error(errno));
  }
  return std::unexpected(os_error(EEXIST));
}

TemporaryFile::~TemporaryFile() {
  if (path_.empty()) return;
  fd_.reset();
  ::unlink(path_.c_str());
}

Status TemporaryFile::write_all(std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd_.get(), data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error(errno));
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return {};
}

Status TemporaryFile::sync() {
  if (::fsync(fd_.get()) != 0) return std::unexpected(os_error(errno));
  return {};
}

Status TemporaryFile::commit(const std::string& target) {
  // The replacement keeps the access rights that the old file was given,
  // but neither those of a link's target nor set-id bits.
  struct stat old_file;
  if (::lstat(target.c_str(), &old_file) == 0 && S_ISREG(old_file.st_mode) &&
      ::fchmod(fd_.get(), old_file.st_mode & 0777) != 0) {
    return std::unexpected(os_error(errno));
  }
  if (fd_.close() != 0) return std::unexpected(os_error(errno));
  if (::rename(path_.c_str(), target.c_str()) != 0) return std::unexpected(os_error(errno));
  path_.clear();
  // The new content is already safe; a directory that cannot be flushed
  // only risks the rename itself, so its failure is not reported.
  (void)sync_directory(parent_directory(target));
  return {};
}

Status remove_file(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return std::unexpected(os_error(errno));
  return {};
}

Status sync_directory(const std::string& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return std::unexpected(os_error(errno));
  if (::fsync(fd.get()) != 0) return std::unexpected(os_error(errno));
  return {};
}

}  // namespace vexlo::os
