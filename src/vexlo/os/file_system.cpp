#include "vexlo/os/file_system.h"

#include <dirent.h>
#include <sched.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "vexlo/common/utf8.h"

namespace vexlo::os {
namespace {

// strerror_r comes in two flavours; overloads pick whichever libc offers.
[[maybe_unused]] const char* strerror_result(int rc, const char* buffer) {
  return rc == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* strerror_result(const char* text, const char*) { return text; }

FileType type_of(mode_t mode) {
  if (S_ISREG(mode)) return FileType::Regular;
  if (S_ISDIR(mode)) return FileType::Directory;
  return FileType::Other;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now and reports a failure of close itself.
  int close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

}  // namespace

std::string error_text(int errnum) {
  char buffer[256] = {};
  const char* text = strerror_result(strerror_r(errnum, buffer, sizeof buffer), buffer);
  return std::string(text) + " (os error " + std::to_string(errnum) + ")";
}

Error os_error(int errnum) { return Error{error_text(errnum), errnum}; }

namespace {

// Status of `path`, relative to the directory `directory_fd` unless it is
// absolute, following symbolic links.
Result<FileStatus> stat_at(int directory_fd, const char* path) {
  struct statx sx;
  if (::statx(directory_fd, path, 0, STATX_TYPE | STATX_MTIME | STATX_CTIME | STATX_INO | STATX_SIZE,
              &sx) == 0) {
    FileStatus st;
    st.type = type_of(sx.stx_mode);
    st.device = (static_cast<std::uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
    st.inode = sx.stx_ino;
    st.size = sx.stx_size;
    if ((sx.stx_mask & STATX_MTIME) && sx.stx_mtime.tv_sec >= 0) st.modified = sx.stx_mtime.tv_sec;
    st.modified_nsec = sx.stx_mtime.tv_nsec;
    st.changed = sx.stx_ctime.tv_sec;
    st.changed_nsec = sx.stx_ctime.tv_nsec;
    return st;
  }
  if (errno != ENOSYS && errno != EPERM) return std::unexpected(os_error(errno));
  struct stat sb;
  if (::fstatat(directory_fd, path, &sb, 0) != 0) return std::unexpected(os_error(errno));
  FileStatus st;
  st.type = type_of(sb.st_mode);
  st.device = sb.st_dev;
  st.inode = sb.st_ino;
  st.size = static_cast<std::uint64_t>(sb.st_size);
  if (sb.st_mtim.tv_sec >= 0) st.modified = sb.st_mtim.tv_sec;
  st.modified_nsec = sb.st_mtim.tv_nsec;
  st.changed = sb.st_ctim.tv_sec;
  st.changed_nsec = sb.st_ctim.tv_nsec;
  return st;
}

// The names in an open directory stream, which is closed on every path.
Result<std::vector<std::string>> read_names(DIR* dir) {
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const struct dirent64* entry = ::readdir64(dir);
    if (entry == nullptr) {
      if (errno != 0) return std::unexpected(os_error(errno));
      return names;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
  }
}

}  // namespace

Result<FileStatus> stat_path(const std::string& path) { return stat_at(AT_FDCWD, path.c_str()); }

Result<Directory> Directory::open(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return std::unexpected(os_error(errno));
  return Directory(dir);
}

Directory::~Directory() {
  if (dir_ != nullptr) ::closedir(dir_);
}

Result<std::vector<std::string>> Directory::list() { return read_names(dir_); }

Result<FileStatus> Directory::status(const std::string& name) const {
  return stat_at(::dirfd(dir_), name.c_str());
}

Result<std::vector<std::string>> list_directory(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return std::unexpected(os_error(errno));
  auto names = read_names(dir);
  ::closedir(dir);
  return names;
}

Status make_directories(const std::string& path) {
  if (path.empty()) return {};
  if (::mkdir(path.c_str(), 0777) == 0) return {};
  int err = errno;
  if (err == EEXIST) {
    struct stat sb;
    if (::stat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode)) return {};
    return std::unexpected(os_error(EEXIST));
  }
  if (err != ENOENT) return std::unexpected(os_error(err));
  // A parent is missing: create it first, then try again.
  std::string_view trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.remove_suffix(1);
  const size_t slash = trimmed.rfind('/');
  if (slash == std::string_view::npos || slash == 0) return std::unexpected(os_error(err));
  if (auto parent = make_directories(std::string(trimmed.substr(0, slash))); !parent) return parent;
  if (::mkdir(path.c_str(), 0777) == 0) return {};
  err = errno;
  if (err == EEXIST) {
    struct stat sb;
    if (::stat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode)) return {};
  }
  return std::unexpected(os_error(err));
}

Status read_file_into(const std::string& path, std::string& buffer, std::size_t spare) {
  // O_NONBLOCK keeps the open itself from waiting on a FIFO without a
  // writer; the type check below then refuses it.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) return std::unexpected(os_error(errno));
  struct stat sb;
  if (::fstat(fd.get(), &sb) != 0) return std::unexpected(os_error(errno));
  if (S_ISDIR(sb.st_mode)) return std::unexpected(os_error(EISDIR));
  if (!S_ISREG(sb.st_mode)) return std::unexpected(os_error(EINVAL));
  buffer.clear();
  // One byte more than the size, so that the first read normally takes the
  // whole file and the second sees its end.
  buffer.reserve(static_cast<std::size_t>(std::max<off_t>(sb.st_size, 0)) + 1 + spare);
  for (;;) {
    if (buffer.capacity() - buffer.size() <= spare) {
      // The file has grown since fstat.
      buffer.reserve(buffer.size() + std::max<std::size_t>(buffer.size(), 1 << 16) + spare);
    }
    const std::size_t before = buffer.size();
    const std::size_t room = buffer.capacity() - before - spare;
    ssize_t got = 0;
    int error = 0;
    // Reads straight into the string's own storage, without zeroing it.
    buffer.resize_and_overwrite(before + room, [&](char* data, std::size_t) {
      do {
        got = ::read(fd.get(), data + before, room);
      } while (got < 0 && errno == EINTR);
      if (got < 0) error = errno;
      return before + static_cast<std::size_t>(std::max<ssize_t>(got, 0));
    });
    if (error != 0) return std::unexpected(os_error(error));
    if (got == 0) return {};
  }
}

Result<std::string> read_regular_file_no_follow(const std::string& path, std::uint64_t max_size) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
  if (fd.get() < 0) return std::unexpected(os_error(errno));
  struct stat sb;
  if (::fstat(fd.get(), &sb) != 0) return std::unexpected(os_error(errno));
  if (!S_ISREG(sb.st_mode)) return std::unexpected(os_error(EINVAL));
  if (static_cast<std::uint64_t>(sb.st_size) > max_size) return std::unexpected(os_error(EFBIG));
  // Read to the size seen, plus one byte to learn whether the file grew.
  std::string data(static_cast<std::size_t>(sb.st_size) + 1, '\0');
  std::size_t filled = 0;
  while (filled < data.size()) {
    const ssize_t got = ::read(fd.get(), data.data() + filled, data.size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error(errno));
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  if (filled > static_cast<std::size_t>(sb.st_size)) return std::unexpected(os_error(EFBIG));
  data.resize(filled);
  return data;
}

Result<std::string> read_file(const std::string& path) {
  std::string data;
  if (auto read = read_file_into(path, data, kReadPadding); !read) return std::unexpected(read.error());
  return data;
}

Result<std::string> read_text_file(const std::string& path) {
  auto data = read_file(path);
  if (data && !is_valid_utf8(*data)) return std::unexpected(Error{std::string(kInvalidUtf8Text)});
  return data;
}

Status write_file(const std::string& path, std::string_view data) {
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (fd.get() < 0) return std::unexpected(os_error(errno));
  while (!data.empty()) {
    const ssize_t n = ::write(fd.get(), data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error(errno));
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  if (fd.close() != 0) return std::unexpected(os_error(errno));
  return {};
}

Status rename_file(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return std::unexpected(os_error(errno));
  return {};
}

Status link_file(const std::string& from, const std::string& to) {
  // Without AT_SYMLINK_FOLLOW a symbolic link is not followed.
  if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 0) != 0) return std::unexpected(os_error(errno));
  return {};
}

std::int64_t now_seconds() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec);
}

Timestamp now() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return Timestamp{static_cast<std::int64_t>(ts.tv_sec), static_cast<std::int64_t>(ts.tv_nsec)};
}

std::size_t available_processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<std::size_t>(std::max(CPU_COUNT(&set), 1));
}

std::string join_path(std::string_view left, std::string_view right) {
  std::string out;
  out.reserve(left.size() + 1 + right.size());
  out.append(left);
  if (!left.empty() && left.back() != '/') out.push_back('/');
  out.append(right);
  return out;
}

}  // namespace vexlo::os
