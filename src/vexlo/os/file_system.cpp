#include "vexlo/os/file_system.h"

#include <dirent.h>
#include <sched.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <stdexcept>

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

Result<std::string> real_path(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::unexpected(os_error(errno));
  std::string text(resolved);
  ::free(resolved);
  return text;
}

Result<DirectoryListing> DirectoryListing::open(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return std::unexpected(os_error(errno));
  return DirectoryListing(dir);
}

DirectoryListing::~DirectoryListing() {
  if (dir_ != nullptr) ::closedir(dir_);
}

Result<std::vector<std::string>> DirectoryListing::list() { return read_names(dir_); }

Result<FileStatus> DirectoryListing::status(const std::string& name) const {
  return stat_at(::dirfd(dir_), name.c_str());
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

Result<OpenFile> open_regular_file(int directory_fd, const std::string& path, Links links) {
  const int no_follow = links == Links::DoNotFollow ? O_NOFOLLOW : 0;
  const FileDescriptor reference(::openat(directory_fd, path.c_str(), O_PATH | O_CLOEXEC | no_follow));
  if (!reference.valid()) return std::unexpected(os_error(errno));
  struct stat sb;
  if (::fstat(reference.get(), &sb) != 0) return std::unexpected(os_error(errno));
  if (S_ISDIR(sb.st_mode)) return std::unexpected(os_error(EISDIR));
  if (S_ISLNK(sb.st_mode)) return std::unexpected(os_error(ELOOP));
  if (!S_ISREG(sb.st_mode)) return std::unexpected(os_error(EINVAL));
  // The reference names this very file, whatever happens to `path` now.
  const std::string reopen = "/proc/self/fd/" + std::to_string(reference.get());
  FileDescriptor fd(::open(reopen.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) return std::unexpected(os_error(errno));
  return OpenFile{std::move(fd), static_cast<std::uint64_t>(std::max<off_t>(sb.st_size, 0))};
}

namespace {

// Reads up to `count` bytes at `data`, fewer only at the end of the file.
Result<std::size_t> read_up_to(int fd, char* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(fd, data + done, count - done);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error(errno));
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
}

Result<ReadContent> read_open_file(const OpenFile& file, std::string& buffer, std::size_t spare,
                                   HeadCheck check) {
  if (file.size >= kMaxReadSize) return std::unexpected(os_error(EFBIG));
  const auto size = static_cast<std::size_t>(file.size);
  // The head first: a file that cannot hold what the caller wants costs
  // one small read, whatever its size claims.
  char head[kHeadSize];
  const auto head_size = read_up_to(file.fd.get(), head, std::min(size, kHeadSize));
  if (!head_size) return std::unexpected(head_size.error());
  const std::string_view head_bytes(head, *head_size);
  const bool rejected = check != nullptr && !check(head_bytes);
  const std::size_t wanted = rejected ? head_bytes.size() : size;
  buffer.clear();
  try {
    buffer.reserve(wanted + spare);
  } catch (const std::bad_alloc&) {
    return std::unexpected(os_error(ENOMEM));
  } catch (const std::length_error&) {
    return std::unexpected(os_error(ENOMEM));
  }
  buffer.append(head_bytes);
  if (rejected) return ReadContent::HeadOnly;
  if (head_bytes.size() < std::min(size, kHeadSize)) return ReadContent::Whole;  // shrank meanwhile
  Status failure;
  // Reads straight into the string's own storage, without zeroing it.
  buffer.resize_and_overwrite(wanted, [&](char* data, std::size_t) {
    const std::size_t before = head_bytes.size();
    auto got = read_up_to(file.fd.get(), data + before, wanted - before);
    if (!got) {
      failure = std::unexpected(got.error());
      return before;
    }
    return before + *got;
  });
  if (!failure) return std::unexpected(failure.error());
  return ReadContent::Whole;
}

Result<std::string> checked_text(Result<ReadContent> read, std::string&& data) {
  if (!read) return std::unexpected(read.error());
  // A rejected head may end inside a character that the rest completes.
  const std::string_view checked = *read == ReadContent::HeadOnly ? without_partial_last_character(data) : data;
  if (!is_valid_utf8(checked)) return std::unexpected(Error{std::string(kInvalidUtf8Text)});
  return std::move(data);
}

}  // namespace

Result<ReadContent> read_file_into(const std::string& path, std::string& buffer, std::size_t spare,
                                   HeadCheck check) {
  auto file = open_regular_file(AT_FDCWD, path, Links::Follow);
  if (!file) return std::unexpected(file.error());
  return read_open_file(*file, buffer, spare, check);
}

Result<std::string> read_text_file(const std::string& path, HeadCheck check) {
  std::string data;
  auto read = read_file_into(path, data, kReadPadding, check);
  return checked_text(std::move(read), std::move(data));
}

Result<std::string> read_file_at(int directory_fd, const std::string& name, std::uint64_t max_size) {
  auto file = open_regular_file(directory_fd, name, Links::DoNotFollow);
  if (!file) return std::unexpected(file.error());
  if (file->size > max_size) return std::unexpected(os_error(EFBIG));
  std::string data;
  if (auto read = read_open_file(*file, data, kReadPadding, nullptr); !read) return std::unexpected(read.error());
  return data;
}

Status link_file(int directory_fd, const std::string& from, const std::string& to) {
  // Without AT_SYMLINK_FOLLOW a symbolic link is not followed.
  if (::linkat(directory_fd, from.c_str(), directory_fd, to.c_str(), 0) != 0) {
    return std::unexpected(os_error(errno));
  }
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
