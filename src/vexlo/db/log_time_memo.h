#pragma once
// The times of the log files read so far in this run. The synchronisation
// and the listing each scan the log root; a file that has not changed in
// between is then read and parsed only once.
//
// A file counts as unchanged while its device, inode, size, modification
// time and change time (with nanoseconds) are the same as when it was read.
// Only the time found (or that the file is no log file) is kept, never the
// content.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "vexlo/db/log_scan.h"
#include "vexlo/os/file_system.h"

namespace vexlo {

struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::optional<std::int64_t> modified;
  std::int64_t modified_nsec = 0;
  std::int64_t changed = 0;
  std::int64_t changed_nsec = 0;

  static FileIdentity of(const os::FileStatus& status);
  bool operator==(const FileIdentity&) const = default;
};

class LogTimeMemo {
 public:
  // What log_time gave for `path` when the file there had `identity`: the
  // outer optional is empty when that is not known.
  std::optional<std::optional<std::int64_t>> find(const std::string& path, const FileIdentity& identity) const;
  void remember(const std::string& path, const FileIdentity& identity, std::optional<std::int64_t> time);
  std::size_t size() const { return records_.size(); }

 private:
  struct Record {
    FileIdentity identity;
    std::optional<std::int64_t> time;
  };
  std::unordered_map<std::string, Record> records_;
};

// A scan source that asks `inner` only for the times of files the memo does
// not know in their present state, and remembers what it answers.
class MemoizedScanSource : public ScanSource {
 public:
  MemoizedScanSource(ScanSource& inner, LogTimeMemo& memo) : inner_(inner), memo_(memo) {}

  Result<os::FileStatus> status(const std::string& path) override { return inner_.status(path); }
  Result<std::vector<std::string>> list(const std::string& directory) override { return inner_.list(directory); }
  std::optional<std::int64_t> log_time(const std::string& path, const os::FileStatus& status) override;

 private:
  ScanSource& inner_;
  LogTimeMemo& memo_;
};

}  // namespace vexlo
