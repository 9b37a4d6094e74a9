#include "vexlo/os/file_system.h"

#include <sched.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "vexlo/common/out_of_memory.h"
#include "vexlo/common/utf8.h"

namespace vexlo::os {
namespace {


FileType type_of(mode_t mode) {
  if (S_ISREG(mode)) return FileType::Regular;
  if (S_ISDIR(mode)) return FileType::Directory;
  if (S_ISLNK(mode)) return FileType::Link;
  return FileType::Other;
}

}  // namespace


namespace {

FileStatus status_from(const struct stat& sb) {
  FileStatus st;
  st.type = type_of(sb.st_mode);
  // The same number statx gives, so that the two can be compared.
  st.device = (static_cast<std::uint64_t>(major(sb.st_dev)) << 32) | minor(sb.st_dev);
  st.inode = sb.st_ino;
  st.size = static_cast<std::uint64_t>(std::max<off_t>(sb.st_size, 0));
  if (sb.st_mtim.tv_sec >= 0) st.modified = sb.st_mtim.tv_sec;
  st.modified_nsec = sb.st_mtim.tv_nsec;
  st.changed = sb.st_ctim.tv_sec;
  st.changed_nsec = sb.st_ctim.tv_nsec;
  st.owner = sb.st_uid;
  st.permissions = sb.st_mode & 07777;
  return st;
}

// Status of `path`, relative to the directory `directory_fd` unless it is
// absolute, following symbolic links unless `flags` holds
// AT_SYMLINK_NOFOLLOW.
Result<FileStatus> stat_at(int directory_fd, const char* path, int flags = 0) {
  struct statx sx;
  constexpr unsigned kWanted = STATX_TYPE | STATX_MODE | STATX_UID | STATX_MTIME | STATX_CTIME | STATX_INO | STATX_SIZE;
  if (::statx(directory_fd, path, flags, kWanted, &sx) == 0) {
    FileStatus st;
    st.type = type_of(sx.stx_mode);
    st.device = (static_cast<std::uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
    st.inode = sx.stx_ino;
    st.size = sx.stx_size;
    if ((sx.stx_mask & STATX_MTIME) && sx.stx_mtime.tv_sec >= 0) st.modified = sx.stx_mtime.tv_sec;
    st.modified_nsec = sx.stx_mtime.tv_nsec;
    st.changed = sx.stx_ctime.tv_sec;
    st.changed_nsec = sx.stx_ctime.tv_nsec;
    st.owner = sx.stx_uid;
    st.permissions = sx.stx_mode & 07777;
    return st;
  }
  if (errno != ENOSYS && errno != EPERM) return std::unexpected(os_error(errno));
  struct stat sb;
  if (::fstatat(directory_fd, path, &sb, flags) != 0) return std::unexpected(os_error(errno));
  return status_from(sb);
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

Result<FileStatus> status_at(int directory_fd, const std::string& path, Links links) {
  return stat_at(directory_fd, path.c_str(), links == Links::DoNotFollow ? AT_SYMLINK_NOFOLLOW : 0);
}

Result<FileStatus> status_of(int fd) {
  struct stat sb;
  if (::fstat(fd, &sb) != 0) return std::unexpected(os_error(errno));
  return status_from(sb);
}

bool only_owner_writes(const FileStatus& status) { return (status.permissions & (S_IWGRP | S_IWOTH)) == 0; }

std::uint32_t current_user() { return ::geteuid(); }

Status make_directories(const std::string& path) {
  if (path.empty()) return {};
  if (::mkdir(path.c_str(), kNewDirectoryMode) == 0) return {};
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
  if (::mkdir(path.c_str(), kNewDirectoryMode) == 0) return {};
  err = errno;
  if (err == EEXIST) {
    struct stat sb;
    if (::stat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode)) return {};
  }
  return std::unexpected(os_error(err));
}

namespace {

// The regular file that `reference`, an O_PATH descriptor, names, opened
// for reading.
Result<OpenFile> open_referenced_regular_file(const FileDescriptor& reference) {
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
  return OpenFile{std::move(fd), status_from(sb)};
}

}  // namespace

Result<OpenFile> open_regular_file(int directory_fd, const std::string& path, Links links) {
  const int no_follow = links == Links::DoNotFollow ? O_NOFOLLOW : 0;
  return open_referenced_regular_file(
      FileDescriptor(::openat(directory_fd, path.c_str(), O_PATH | O_CLOEXEC | no_follow)));
}

Result<OpenFile> open_regular_file_beneath(int directory_fd, const std::string& path) {
  open_how how{};
  how.flags = O_PATH | O_CLOEXEC | O_NOFOLLOW;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  // No C library wrapper exists for this call.
  const long fd = ::syscall(SYS_openat2, directory_fd, path.c_str(), &how, sizeof how);
  return open_referenced_regular_file(FileDescriptor(static_cast<int>(fd)));
}

namespace {

// Reads up to `count` bytes at `data`, fewer only at the end of the file,
// through `read_some(at, count, done)`, a call of the system that reads
// part of them.
template <class ReadSome>
Result<std::size_t> read_up_to(char* data, std::size_t count, const ReadSome& read_some) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = read_some(data + done, count - done, done);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error(errno));
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
}

Result<std::size_t> read_up_to(int fd, char* data, std::size_t count) {
  return read_up_to(data, count, [fd](char* at, std::size_t part, std::size_t) { return ::read(fd, at, part); });
}

}  // namespace

Result<std::size_t> read_open_file_at(const OpenFile& file, std::uint64_t offset, std::span<char> into) {
  return read_up_to(into.data(), into.size(), [&](char* at, std::size_t part, std::size_t done) {
    return ::pread(file.fd.get(), at, part, static_cast<off_t>(offset + done));
  });
}

namespace {

// Replaces the buffer by one holding its content with room for exactly
// `capacity` bytes: a string's own growth may double, and for one large
// file that would double the cost. Room beyond what a string may hold is
// memory that cannot be had, as is an allocation that fails (see
// common/out_of_memory.h).
Status grow_buffer(std::string& buffer, std::size_t capacity) {
  if (capacity > buffer.max_size()) return std::unexpected(os_error(ENOMEM));
  const auto grow = [&]() -> Status {
    std::string larger;
    larger.reserve(capacity);
    larger.append(buffer);
    buffer.swap(larger);
    return {};
  };
  return within_memory(grow, [] { return Status(std::unexpected(os_error(ENOMEM))); });
}

// Appends up to `count` bytes read from `fd` to the buffer, whose capacity
// already holds them.
Result<std::size_t> append_read(int fd, std::string& buffer, std::size_t count) {
  Result<std::size_t> got = 0;
  // Reads straight into the string's own storage, without zeroing it.
  buffer.resize_and_overwrite(buffer.size() + count, [&](char* data, std::size_t size) {
    const std::size_t before = size - count;
    got = read_up_to(fd, data + before, count);
    return before + (got ? *got : 0);
  });
  return got;
}

bool holds_nul(std::string_view buffer, std::size_t from) {
  return buffer.find('\0', from) != std::string_view::npos;
}

// The smallest block the buffer grows by after the head.
constexpr std::size_t kFirstBlock = std::size_t{64} << 10;

// Files from this size on get their room in one piece.
constexpr std::size_t kOnePieceFrom = std::size_t{1} << 20;

// How many bytes from the start the file surely holds: no more than its
// storage on disk, and none past its first hole (which reads as NUL bytes,
// where reading stops). 0 when the system cannot tell.
std::size_t bytes_that_exist(int fd, std::size_t size) {
  struct stat status;
  if (::fstat(fd, &status) != 0) return 0;
  const std::size_t stored = static_cast<std::size_t>(status.st_blocks) * 512;
  // Finding the hole moves the file's offset; it goes back after.
  const off_t offset = ::lseek(fd, 0, SEEK_CUR);
  const off_t hole = offset < 0 ? -1 : ::lseek(fd, 0, SEEK_HOLE);
  if (offset < 0 || hole < 0 || ::lseek(fd, offset, SEEK_SET) != offset) return 0;
  return std::min({size, stored, static_cast<std::size_t>(hole)});
}

}  // namespace

Result<ReadContent> read_open_file(const OpenFile& file, std::string& buffer, const ReadRules& rules) {
  if (file.status.size > rules.max_size) return std::unexpected(os_error(EFBIG));
  const auto size = static_cast<std::size_t>(file.status.size);
  buffer.clear();
  if (buffer.capacity() < kHeadSize + rules.spare) {
    if (auto grown = grow_buffer(buffer, kHeadSize + rules.spare); !grown) return std::unexpected(grown.error());
  }
  // The head first: a file that cannot hold what the caller wants costs
  // one small read, whatever its size claims. A buffer that already has
  // room for more, as one that reads many files has, takes as much in that
  // read, which costs no memory and spares a call for each file; the check
  // still sees the head alone.
  const std::size_t first = std::max(kHeadSize, buffer.capacity() - rules.spare);
  const auto head = append_read(file.fd.get(), buffer, std::min(size, first));
  if (!head) return std::unexpected(head.error());
  if (rules.check != nullptr && !rules.check(std::string_view(buffer).substr(0, kHeadSize))) {
    buffer.resize(std::min(buffer.size(), kHeadSize));
    return ReadContent::HeadOnly;
  }
  if (rules.stop_after_nul && holds_nul(buffer, 0)) return ReadContent::UpToNul;
  // A buffer that doubles leaves its smaller forerunners in the heap, which
  // the process keeps (see os/memory.h): a large file would cost twice its
  // size. Room for the bytes that exist is taken at once instead.
  if (size >= kOnePieceFrom) {
    const std::size_t existing = bytes_that_exist(file.fd.get(), size);
    if (buffer.capacity() < existing + rules.spare) {
      if (auto grown = grow_buffer(buffer, existing + rules.spare); !grown) return std::unexpected(grown.error());
    }
  }
  // Then blocks that double what was read so far, so that the buffer
  // holds at most twice the bytes that exist.
  while (buffer.size() < size) {
    const std::size_t before = buffer.size();
    const std::size_t target = std::min(size, std::max(before * 2, kFirstBlock));
    if (buffer.capacity() < target + rules.spare) {
      if (auto grown = grow_buffer(buffer, target + rules.spare); !grown) return std::unexpected(grown.error());
    }
    const auto got = append_read(file.fd.get(), buffer, target - before);
    if (!got) return std::unexpected(got.error());
    if (rules.stop_after_nul && holds_nul(buffer, before)) return ReadContent::UpToNul;
    if (*got < target - before) break;  // shrank meanwhile
  }
  return ReadContent::Whole;
}

namespace {

Result<std::string> checked_text(Result<ReadContent> read, std::string&& data) {
  if (!read) return std::unexpected(read.error());
  // A read that stopped early may end inside a character that the rest
  // completes.
  const std::string_view checked = *read == ReadContent::Whole ? std::string_view(data) : without_partial_last_character(data);
  if (!is_valid_utf8(checked)) return std::unexpected(Error{std::string(kInvalidUtf8Text)});
  return std::move(data);
}

}  // namespace

Result<ReadContent> read_file_into(const std::string& path, std::string& buffer, const ReadRules& rules) {
  auto file = open_regular_file(AT_FDCWD, path, Links::Follow);
  if (!file) return std::unexpected(file.error());
  return read_open_file(*file, buffer, rules);
}

Result<std::string> read_open_text_file(const OpenFile& file, const ReadRules& rules) {
  std::string data;
  auto read = read_open_file(file, data, rules);
  return checked_text(std::move(read), std::move(data));
}

Result<std::string> read_text_file(const std::string& path, const ReadRules& rules) {
  std::string data;
  auto read = read_file_into(path, data, rules);
  return checked_text(std::move(read), std::move(data));
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
