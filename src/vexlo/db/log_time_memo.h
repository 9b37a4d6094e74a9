#pragma once
// The times of the log files read so far in this run. The synchronisation
// and the listing each scan the log root; a file that has not changed in
// between is then read and parsed only once.
//
// A file counts as unchanged while its device, inode, size, modification
// time and change time (with nanoseconds) are the same as when it was read.
// Only the time found (or that the file is no log file) is kept, never the
// content.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
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
  struct Record {
    std::string path;
    FileIdentity identity;           // of the file when it was read
    std::optional<std::int64_t> time;  // none: no log file
  };

  std::size_t size() const { return records_.size(); }
  const Record& operator[](std::size_t position) const { return records_[position]; }
  // Position of the first record for `path` among the first `limit`.
  std::optional<std::size_t> position(std::string_view path, std::size_t limit);
  void add(Record record) { records_.push_back(std::move(record)); }
  void update(std::size_t position, const FileIdentity& identity, std::optional<std::int64_t> time);

 private:
  // A deque, so that records never move and the index can view their paths.
  std::deque<Record> records_;
  // Built only when a lookup needs it, over the first `indexed_` records.
  std::unordered_map<std::string_view, std::size_t> positions_;
  std::size_t indexed_ = 0;
};

// A scan source that asks `inner` only for the times of files the memo does
// not know in their present state, and adds what it answers to the memo.
// One is made for each scan: a scan names each path once, and scans of an
// unchanged tree meet the files in the same order, so that the records of
// an earlier scan are met one after another without a search.
class MemoizedScanSource : public ScanSource {
 public:
  MemoizedScanSource(ScanSource& inner, LogTimeMemo& memo)
      : inner_(inner), memo_(memo), earlier_(memo.size()) {}

  Result<os::FileStatus> status(const std::string& path) override { return inner_.status(path); }
  Result<std::vector<std::string>> list(const std::string& directory) override { return inner_.list(directory); }
  std::optional<std::int64_t> log_time(const std::string& path, const os::FileStatus& status) override;

 private:
  std::optional<std::size_t> earlier_record(const std::string& path);

  ScanSource& inner_;
  LogTimeMemo& memo_;
  std::size_t earlier_;  // records made by earlier scans
  std::size_t next_ = 0;  // the record after the one met last
};

}  // namespace vexlo
