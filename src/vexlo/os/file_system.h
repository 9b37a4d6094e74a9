#pragma once
// The few operating-system calls the tool makes, wrapped so that every
// failure comes back as an Error carrying the system's description.
// Paths are byte strings, passed to the system unchanged.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vexlo/common/error.h"
#include "vexlo/os/file_descriptor.h"
#include "vexlo/os/os_error.h"

namespace vexlo::os {


enum class FileType { Regular, Directory, Link, Other };

// Which file this is and the size and times a write or a replacement
// changes: what tells one version of a file from another.
struct FileVersion {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  // Whole seconds since the epoch; absent when the system gives none or it
  // lies before the epoch.
  std::optional<std::int64_t> modified;
  std::int64_t modified_nsec = 0;
  std::int64_t changed = 0;
  std::int64_t changed_nsec = 0;

  bool operator==(const FileVersion&) const = default;
};

struct FileStatus : FileVersion {
  FileType type = FileType::Other;
  std::uint32_t owner = 0;        // user ID
  std::uint32_t permissions = 0;  // the mode's low twelve bits

  const FileVersion& version() const { return *this; }
};

// Whether the two name one file: the same device and inode.
inline bool same_file(const FileVersion& a, const FileVersion& b) { return a.device == b.device && a.inode == b.inode; }

// Whether only the file's owner may write it (no group or other write bit).
bool only_owner_writes(const FileStatus& status);

// The user this process acts as (its effective user ID).
std::uint32_t current_user();

// Status of an open file.
Result<FileStatus> status_of(int fd);

enum class Links { Follow, DoNotFollow };

// Status of the file a path names, following symbolic links.
Result<FileStatus> stat_path(const std::string& path);

// The absolute path of what `path` names, without links, "." or "..".
Result<std::string> real_path(const std::string& path);

// Status of `path` relative to the directory `directory_fd` (which may be
// AT_FDCWD); with Links::DoNotFollow a symbolic link is FileType::Link.
Result<FileStatus> status_at(int directory_fd, const std::string& path, Links links);

// What vexlo creates is never writable by group or others, whatever the
// umask: it usually runs as root, and whoever could write the database
// directory or file could change every ID. The kernel takes the umask off
// these modes as well, so a stricter umask still has its way.
inline constexpr unsigned kNewDirectoryMode = 0755;
inline constexpr unsigned kNewFileMode = 0644;

// Creates the directory and every missing parent (kNewDirectoryMode less
// the umask). An existing directory is no error.
Status make_directories(const std::string& path);

// Capacity that read_text_file and read_file_at leave after the bytes it returns, enough for
// parsers that read a block past the end of their input (the JSON parser
// reads up to 64 bytes), so that the text can be parsed where it lies.
inline constexpr std::size_t kReadPadding = 64;

// Files of this size or more are refused before anything is read: no
// parser of the tool could hold them, and a planted sparse file would
// otherwise cost its whole size in memory.
inline constexpr std::uint64_t kMaxReadSize = std::uint64_t{4} << 30;

// Bytes read first, before the buffer grows for the rest of the file.
inline constexpr std::size_t kHeadSize = 4096;

// Whether the first bytes of a file (up to kHeadSize of them, all of them
// for a small file) may begin acceptable content. Lets a reader give up on
// a file after one small read.
using HeadCheck = bool (*)(std::string_view head);

// What a read left in the buffer.
enum class ReadContent {
  Whole,      // the file up to the size it had when it was opened
  HeadOnly,   // the first bytes alone: the head check rejected them
  UpToNul,    // the bytes up to the end of the block that held the first NUL byte
};

// How a read treats what it finds.
struct ReadRules {
  std::size_t spare = kReadPadding;  // capacity left after the content
  HeadCheck check = nullptr;
  // Stop after the block of bytes (the head, then blocks that double what
  // was read) that holds the first NUL byte. No text the tool reads holds
  // one, so a file of holes costs a single read; what was read is kept, so
  // that a parser still rejects the text.
  bool stop_after_nul = false;
  // Files larger than this when opened are refused (EFBIG).
  std::uint64_t max_size = kMaxReadSize - 1;
};

struct OpenFile {
  FileDescriptor fd;
  FileStatus status;  // when it was opened
};

// Opens a regular file for reading, and nothing else. The name is opened
// as a mere reference (O_PATH) first, its type checked on that reference,
// and only then is the same file opened for reading through
// /proc/self/fd, so that no swap of the name in between and no link can
// make the tool open a device, FIFO or socket. A directory gives EISDIR, a
// link that is not followed ELOOP, anything else that is no regular file
// EINVAL. `directory_fd` may be AT_FDCWD.
Result<OpenFile> open_regular_file(int directory_fd, const std::string& path, Links links);

// The same for a relative `path` resolved strictly below `directory_fd`:
// through no symbolic link and never above it, in one call of the system.
// ELOOP when a link lies on the way, and an error too where the system
// cannot resolve a path so (kernels before 5.6, filters that refuse the
// call): the caller then walks the path itself.
Result<OpenFile> open_regular_file_beneath(int directory_fd, const std::string& path);

// Reads an open file into `buffer`, whose old content is replaced. The
// buffer grows with the bytes actually read, never ahead of them by the
// size the file claims, and stops at that size (a file that grows
// meanwhile is taken at the size it had when it was opened). ENOMEM when
// the buffer cannot grow. On failure the buffer's content is unspecified.
Result<ReadContent> read_open_file(const OpenFile& file, std::string& buffer, const ReadRules& rules);

// Reads up to `into.size()` bytes of the file from `offset` on, fewer only
// at its end: how many were read.
Result<std::size_t> read_open_file_at(const OpenFile& file, std::uint64_t offset, std::span<char> into);

// Reads a whole regular file (see open_regular_file) into `buffer` (see
// read_open_file), whose capacity is kept when it suffices, so that
// reading many files one after another allocates only for the largest.
// Safe to call from several threads with buffers of their own.
Result<ReadContent> read_file_into(const std::string& path, std::string& buffer, const ReadRules& rules);

// read_open_file into a string of its own, whose bytes must be valid UTF-8
// (for a read that stopped early: its complete characters).
Result<std::string> read_open_text_file(const OpenFile& file, const ReadRules& rules);

// Reads a whole regular file (see open_regular_file) with kReadPadding
// spare bytes, and the bytes must be valid UTF-8 (for a head that
// `check` rejected: its complete characters).
Result<std::string> read_text_file(const std::string& path, const ReadRules& rules = {});

// Gives the file that `from` names the second name `to` (a hard link), both
// relative to `directory_fd` (which may be AT_FDCWD). A symbolic link at
// `from` is linked itself, never followed, and an existing `to` is never
// replaced: that fails with EEXIST.
Status link_file(int directory_fd, const std::string& from, const std::string& to);

// Current UTC time in whole seconds since the epoch.
std::int64_t now_seconds();

// A point in time as the system's clock and file times give it.
struct Timestamp {
  std::int64_t seconds = 0;
  std::int64_t nanoseconds = 0;  // 0 to 999,999,999
  auto operator<=>(const Timestamp&) const = default;
};

// Current UTC time with nanoseconds.
Timestamp now();

// The number of processors this process may run on, at least 1.
std::size_t available_processors();

// Joins two path parts with one "/" unless the left part is empty or already
// ends with "/".
std::string join_path(std::string_view left, std::string_view right);

}  // namespace vexlo::os
