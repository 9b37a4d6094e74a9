#pragma once
// The scan of the log root and the pieces that decide what a file
// contributes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vexlo/common/error.h"
#include "vexlo/db/file_entry.h"
#include "vexlo/json/json.h"
#include "vexlo/os/directory.h"
#include "vexlo/os/file_system.h"

namespace vexlo {

class LogTimeCache;

// At most this many threads read log files at once, however many
// processors there are: past a few, the disk is the limit.
inline constexpr std::size_t kMaxReadThreads = 8;

// Log files larger than this are read by one thread at a time, so that a
// run's memory stays about its largest log plus a fixed amount, however
// many threads read; smaller ones by any thread.
inline constexpr std::uint64_t kLargeLogSize = std::uint64_t{64} << 20;

// Reads log files for their times one after another with one parser and
// one buffer, so that it allocates for its largest file only, not for
// every file. Readers share nothing: each thread that reads has its own.
class LogTimeReader {
 public:
  // The time of a log file: its top-level "boot_timestamp" when that is a
  // signed 64-bit integer, else `modified`. No value when the file cannot
  // be read, is larger than `max_size` when opened, is not UTF-8 or is not
  // exactly one JSON value. After a file of more than kLargeLogSize the
  // reader lets its memory go, so that only the thread reading a large
  // file holds a large buffer.
  std::optional<std::int64_t> read(const std::string& path, std::int64_t modified,
                                   std::uint64_t max_size = kLargeLogSize);
  // The same for a file already open.
  std::optional<std::int64_t> read(const os::OpenFile& file, std::int64_t modified, std::uint64_t max_size);
  // No value, for a file that could not be opened: a failed read.
  std::nullopt_t unreadable() {
    last_read_failed_ = true;
    return std::nullopt;
  }
  // Whether the last read gave no value because the file could not be read
  // at all (no access, no memory, an I/O error) rather than because its
  // content is no log. Such a verdict may change without the file changing,
  // so it is not kept for later runs.
  bool last_read_failed() const { return last_read_failed_; }

 private:
  json::Parser parser_;
  std::string buffer_;
  bool last_read_failed_ = false;
};

// What the scan asks of the file system.
class ScanSource {
 public:
  virtual ~ScanSource() = default;
  // Status of the file a path names, following symbolic links.
  virtual Result<os::FileStatus> status(const std::string& path) = 0;
  // Names in a directory in the order the system yields them.
  virtual Result<std::vector<std::string>> list(const std::string& directory) = 0;
  // The time of the log file at `path` (see LogTimeReader::read), or none
  // when it is no log file. Called from several threads at once, each with
  // its own reader; a file larger than `max_size` when opened is refused.
  virtual std::optional<std::int64_t> log_time(const std::string& path, const os::FileStatus& status,
                                               LogTimeReader& reader, std::uint64_t max_size) = 0;
};

// The file system as it is. The directories on the way down from the log
// root stay open while the scan is inside them, and an entry is looked at
// and entered through its open directory by name, as `find` does, rather
// than by its whole path: the length of a path matters only for what is
// stored and printed. A symbolic link is followed only where
// may_follow_link allows it; any other is no directory and no log file.
// A log file is read only when the file opened is the one the walk saw.
class SystemScanSource : public ScanSource {
 public:
  Result<os::FileStatus> status(const std::string& path) override;
  Result<std::vector<std::string>> list(const std::string& directory) override;
  std::optional<std::int64_t> log_time(const std::string& path, const os::FileStatus& status,
                                       LogTimeReader& reader, std::uint64_t max_size) override;

 private:
  // The open directory that holds the entry `path`, with the entry's name;
  // the directories entered below it are closed, as the scan, depth first,
  // is done with them.
  const os::Directory* holder_of(const std::string& path, std::string& name);

  std::vector<os::Directory> open_;  // on the way down, the log root first
};

// Directories deeper than this below the log root are passed over: each
// level keeps a descriptor open while the scan is inside it, and the usual
// limit of a process is 1024.
inline constexpr std::size_t kMaxScanDepth = 1000;

// Paths longer than this are not stored: no other program could open them
// by their path.
inline constexpr std::size_t kMaxStoredPathLength = 4095;

// A directory below the log root that the scan could not enter.
struct PassedOverDirectory {
  std::string path;    // as text, like the entries' paths
  std::string reason;  // the error text
};

// What a scan passed over besides the files that are no logs.
struct ScanNotes {
  // In discovery order. The files below them that the database holds keep
  // their IDs, as unreadable ones do.
  std::vector<PassedOverDirectory> passed_over;
  // The paths of the regular "json" files that could not be read or parsed
  // this time, in discovery order, as text like the entries' paths: such a
  // file is still there, only its time is unknown for now.
  std::vector<std::string> unreadable;
  // One directory (as text) per "json" file passed over because its path
  // gives the text of another file's: names that are not UTF-8 read alike
  // once their odd bytes are replaced, and a path text names one file only.
  std::vector<std::string> repeated_text_in;
};

// Appends one entry per JSON log file found below `directory`, in
// discovery order, or returns the error that ended the scan. Files that
// `cache` knows in their present state are not read; the others are read
// by up to `threads` threads at once. A completed scan leaves in the cache
// what it found, in its order. A path text is given to one file only: the
// one whose path it is byte for byte, else the first whose path gives it.
// With `notes`, what was passed over is appended to it.
Status scan_log_files(const std::string& directory, std::vector<FileEntry>& entries, ScanSource& source,
                      LogTimeCache& cache, std::size_t threads, ScanNotes* notes = nullptr);
// The same scan asking `cache` but leaving it as it is, for a scan whose
// findings no one would save.
Status scan_log_files(const std::string& directory, std::vector<FileEntry>& entries, ScanSource& source,
                      const LogTimeCache& cache, std::size_t threads, ScanNotes* notes = nullptr);

// Whether the scan follows a symbolic link with the status `link` to a file
// with the status `target`: only when the link belongs to the running user
// or to the target's owner, the rule Linux applies in sticky
// world-writable directories. Whoever may write the log root cannot make
// the tool reach, through a link of their own, what they could not reach
// themselves.
bool may_follow_link(const os::FileStatus& link, const os::FileStatus& target);

// The log file `path` (a path text as the scan stores it) opened for
// reading, when the scan of `log_root` would take it: a regular "json"
// file below the log root, outside ".config", reached only through links
// that may_follow_link allows (EACCES for another). ENOENT for a path that
// does not lie below the log root.
Result<os::OpenFile> open_log_file(const std::string& log_root, const std::string& path);

// The part of `path` after `log_root` and the "/" that joins them (see
// os::join_path), when `path` lies below the log root.
std::optional<std::string_view> path_below(std::string_view log_root, std::string_view path);

// True when the part of the name after its last "." is exactly "json" and
// that "." is not the name's first character.
bool has_json_extension(std::string_view name);

}  // namespace vexlo
