#include "vexlo/os/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string_view>


namespace vexlo::os {

Result<Directory> Directory::open_at(int directory_fd, const std::string& name, std::string path, Links links) {
  // A mere reference (O_PATH) serves every *at call and needs no read
  // permission; listing and flushing open the directory for reading.
  const int no_follow = links == Links::DoNotFollow ? O_NOFOLLOW : 0;
  FileDescriptor fd(::openat(directory_fd, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | no_follow));
  if (fd.valid()) return Directory(std::move(fd), std::move(path));
  int err = errno;
  // Linux says ENOTDIR for a link to a directory; name the link instead.
  struct stat sb;
  if (err == ENOTDIR && no_follow != 0 && ::fstatat(directory_fd, name.c_str(), &sb, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(sb.st_mode)) {
    err = ELOOP;
  }
  return std::unexpected(os_error(err));
}

Result<Directory> Directory::open(const std::string& path, Links links) { return open_at(AT_FDCWD, path, path, links); }

Result<Directory> Directory::open_entry(const std::string& name, Links links) const {
  return open_at(fd_.get(), name, join_path(path_, name), links);
}

Result<FileStatus> Directory::status() const { return status_of(fd_.get()); }

Result<FileStatus> Directory::status(const std::string& name, Links links) const {
  return status_at(fd_.get(), name, links);
}

Result<std::vector<std::string>> Directory::list(Entries entries) const {
  // fdopendir takes over its descriptor; a fresh one keeps ours intact.
  const int own = ::openat(fd_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (own < 0) return std::unexpected(os_error(errno));
  DIR* dir = ::fdopendir(own);
  if (dir == nullptr) {
    const int err = errno;
    ::close(own);
    return std::unexpected(os_error(err));
  }
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const struct dirent64* entry = ::readdir64(dir);
    if (entry == nullptr) break;
    const std::string_view name = entry->d_name;
    const bool other_type = entry->d_type != DT_DIR && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN;
    if (entries == Entries::MayBeDirectories && other_type) continue;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  const int err = errno;
  ::closedir(dir);
  if (err != 0) return std::unexpected(os_error(err));
  return names;
}

Result<std::string> Directory::read_link(const std::string& name) const {
  std::string text(PATH_MAX, '\0');
  const ssize_t size = ::readlinkat(fd_.get(), name.c_str(), text.data(), text.size());
  if (size < 0) return std::unexpected(os_error(errno));
  text.resize(static_cast<std::size_t>(size));
  return text;
}

Status Directory::remove(const std::string& name) const {
  if (::unlinkat(fd_.get(), name.c_str(), 0) != 0) return std::unexpected(os_error(errno));
  return {};
}

Status Directory::sync() const {
  const FileDescriptor readable(::openat(fd_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!readable.valid()) return std::unexpected(os_error(errno));
  if (::fsync(readable.get()) != 0) return std::unexpected(os_error(errno));
  return {};
}

}  // namespace vexlo::os
