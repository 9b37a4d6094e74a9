#pragma once
// The scan of the log root and the pieces that decide what a file
// contributes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vexlo/common/error.h"
#include "vexlo/json/json.h"
#include "vexlo/os/file_system.h"

namespace vexlo {

struct FileEntry;

// What the scan asks of the file system.
class ScanSource {
 public:
  virtual ~ScanSource() = default;
  // Status of the file a path names, following symbolic links.
  virtual Result<os::FileStatus> status(const std::string& path) = 0;
  // Names in a directory in the order the system yields them.
  virtual Result<std::vector<std::string>> list(const std::string& directory) = 0;
  // The time of the log file at `path` (see read_log_time), or none when it
  // is no log file.
  virtual std::optional<std::int64_t> log_time(const std::string& path, const os::FileStatus& status) = 0;
};

// Reads log files for their times one after another with one parser and
// one buffer, so that a scan allocates for its largest file only, not for
// every file. Readers share nothing: threads may each use one of their own.
class LogTimeReader {
 public:
  // See read_log_time.
  std::optional<std::int64_t> read(const std::string& path, std::int64_t modified);

 private:
  json::Parser parser_;
  std::string buffer_;
};

// The file system as it is. Its buffers grow to the largest file read, so
// it is meant to live for one scan.
class SystemScanSource : public ScanSource {
 public:
  Result<os::FileStatus> status(const std::string& path) override;
  Result<std::vector<std::string>> list(const std::string& directory) override;
  std::optional<std::int64_t> log_time(const std::string& path, const os::FileStatus& status) override;

 private:
  LogTimeReader reader_;
};

class LogTimeMemo;

// scan_log_files with the file system seen through `source`. With
// `unreadable`, the paths of the regular "json" files that were passed over
// because they could not be read or parsed this time are appended to it, as
// text like the entries' paths: such a file is still there, only its time
// is unknown for now.
Status scan_log_files(const std::string& directory, std::vector<FileEntry>& entries, ScanSource& source,
                      std::vector<std::string>* unreadable = nullptr);

// scan_log_files that reads only the files `memo` does not know in their
// present state, and adds what it reads to the memo.
Status scan_log_files(const std::string& directory, std::vector<FileEntry>& entries, LogTimeMemo& memo,
                      std::vector<std::string>* unreadable = nullptr);

// True when the part of the name after its last "." is exactly "json" and
// that "." is not the name's first character.
bool has_json_extension(std::string_view name);

// The time of a log file: its top-level "boot_timestamp" when that is a
// signed 64-bit integer, else `modified`. No value when the file cannot be
// read, is not UTF-8 or is not exactly one JSON value.
std::optional<std::int64_t> read_log_time(const std::string& path, std::int64_t modified);

}  // namespace vexlo
