#include "vexlo/db/log_time_memo.h"

namespace vexlo {

FileIdentity FileIdentity::of(const os::FileStatus& status) {
  return FileIdentity{status.device,        status.inode,   status.size,        status.modified,
                      status.modified_nsec, status.changed, status.changed_nsec};
}

std::optional<std::size_t> LogTimeMemo::position(std::string_view path, std::size_t limit) {
  for (; indexed_ < limit && indexed_ < records_.size(); ++indexed_) {
    positions_.emplace(records_[indexed_].path, indexed_);  // keeps the first
  }
  const auto it = positions_.find(path);
  if (it == positions_.end() || it->second >= limit) return std::nullopt;
  return it->second;
}

void LogTimeMemo::update(std::size_t position, const FileIdentity& identity, std::optional<std::int64_t> time) {
  records_[position].identity = identity;
  records_[position].time = time;
}

std::optional<std::size_t> MemoizedScanSource::earlier_record(const std::string& path) {
  if (next_ < earlier_ && memo_[next_].path == path) return next_;
  if (earlier_ == 0) return std::nullopt;
  return memo_.position(path, earlier_);
}

std::optional<std::int64_t> MemoizedScanSource::log_time(const std::string& path, const os::FileStatus& status) {
  // The identity is the one seen before reading: a file that changes while
  // it is read no longer matches it at the next scan and is read again.
  const FileIdentity identity = FileIdentity::of(status);
  const auto known = earlier_record(path);
  if (known) {
    next_ = *known + 1;
    if (memo_[*known].identity == identity) return memo_[*known].time;
  }
  const auto time = inner_.log_time(path, status);
  if (known) {
    memo_.update(*known, identity, time);
  } else {
    memo_.add({path, identity, time});
  }
  return time;
}

}  // namespace vexlo
