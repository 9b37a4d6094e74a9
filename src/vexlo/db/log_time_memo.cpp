#include "vexlo/db/log_time_memo.h"

namespace vexlo {

FileIdentity FileIdentity::of(const os::FileStatus& status) {
  return FileIdentity{status.device,        status.inode,   status.size,        status.modified,
                      status.modified_nsec, status.changed, status.changed_nsec};
}

std::optional<std::optional<std::int64_t>> LogTimeMemo::find(const std::string& path,
                                                              const FileIdentity& identity) const {
  const auto it = records_.find(path);
  if (it == records_.end() || it->second.identity != identity) return std::nullopt;
  return it->second.time;
}

void LogTimeMemo::remember(const std::string& path, const FileIdentity& identity,
                           std::optional<std::int64_t> time) {
  records_.insert_or_assign(path, Record{identity, time});
}

std::optional<std::int64_t> MemoizedScanSource::log_time(const std::string& path, const os::FileStatus& status) {
  // The identity is the one seen before reading: a file that changes while
  // it is read no longer matches it at the next scan and is read again.
  const FileIdentity identity = FileIdentity::of(status);
  if (const auto known = memo_.find(path, identity)) return *known;
  const auto time = inner_.log_time(path, status);
  memo_.remember(path, identity, time);
  return time;
}

}  // namespace vexlo
