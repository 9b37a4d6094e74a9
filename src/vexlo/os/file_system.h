#pragma once
// The few operating-system calls the tool makes, wrapped so that every
// failure comes back as an Error carrying the system's description.
// Paths are byte strings, passed to the system unchanged.

#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vexlo/common/error.h"

namespace vexlo::os {

// "<strerror_r text> (os error N)".
std::string error_text(int errnum);
Error os_error(int errnum);

enum class FileType { Regular, Directory, Other };

struct FileStatus {
  FileType type = FileType::Other;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  // Whole seconds since the epoch; absent when the system gives none or it
  // lies before the epoch.
  std::optional<std::int64_t> modified;
  std::int64_t modified_nsec = 0;
  std::int64_t changed = 0;
  std::int64_t changed_nsec = 0;
};

// Status of the file a path names, following symbolic links.
Result<FileStatus> stat_path(const std::string& path);

// Names in a directory in the order the system yields them, without "." and
// "..".
Result<std::vector<std::string>> list_directory(const std::string& path);

// An open directory: its names, and the status of the entries it holds by
// name, without looking the directory's own path up again for each.
class Directory {
 public:
  // Opens the directory a path names, following symbolic links.
  static Result<Directory> open(const std::string& path);
  Directory(Directory&& other) noexcept : dir_(std::exchange(other.dir_, nullptr)) {}
  Directory& operator=(Directory&&) = delete;
  ~Directory();

  // Names in the directory in the order the system yields them, without "."
  // and "..". Once per directory.
  Result<std::vector<std::string>> list();
  // Status of the entry `name` (no "/" in it), following symbolic links.
  Result<FileStatus> status(const std::string& name) const;

 private:
  explicit Directory(DIR* dir) : dir_(dir) {}
  DIR* dir_;
};

// Creates the directory and every missing parent (mode 0777 less the umask).
// An existing directory is no error.
Status make_directories(const std::string& path);

// Capacity that read_file leaves after the bytes it returns, enough for
// parsers that read a block past the end of their input (the JSON parser
// reads up to 64 bytes), so that the text can be parsed where it lies.
inline constexpr std::size_t kReadPadding = 64;

// Reads a whole regular file. Anything that is not a regular file (a FIFO or
// a device, for example) is refused rather than opened for blocking reads.
Result<std::string> read_file(const std::string& path);

// Like read_file, into `buffer`, whose old content is replaced and whose
// capacity is kept, so that reading many files one after another allocates
// only for the largest. At least `spare` bytes of capacity follow the
// content. On failure the buffer's content is unspecified.
Status read_file_into(const std::string& path, std::string& buffer, std::size_t spare);

// Reads a whole regular file of at most `max_size` bytes without following
// a symbolic link in its last component. Anything else (a link, a FIFO, a
// larger file) is refused with an error.
Result<std::string> read_regular_file_no_follow(const std::string& path, std::uint64_t max_size);

// Like read_file, and the bytes must be valid UTF-8.
Result<std::string> read_text_file(const std::string& path);

// Opens (creating with mode 0666 less the umask, truncating) and writes the
// whole text, retrying interrupted writes.
Status write_file(const std::string& path, std::string_view data);

Status rename_file(const std::string& from, const std::string& to);

// Gives the file that `from` names the second name `to` (a hard link). A
// symbolic link at `from` is linked itself, never followed, and an existing
// `to` is never replaced: that fails with EEXIST.
Status link_file(const std::string& from, const std::string& to);

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
