#include "vexlo/db/log_time_cache.h"

#include <limits>

namespace vexlo {
namespace {

// Whether the file may have changed again within the time step of its last
// change, after the scan that read it had begun: the same race git guards
// its index against.
bool may_have_changed_unseen(const FileIdentity& identity, os::Timestamp scanned_at) {
  const os::Timestamp changed{identity.changed, identity.changed_nsec};
  // A start too early to step back from, as only a hostile file holds,
  // trusts nothing.
  if (scanned_at.seconds < std::numeric_limits<std::int64_t>::min() + kTimeStepSeconds) return true;
  const os::Timestamp settled{scanned_at.seconds - kTimeStepSeconds, scanned_at.nanoseconds};
  return changed >= settled;
}

}  // namespace

LogTimeCache LogTimeCache::restore(std::vector<Record> records, os::Timestamp scanned_at) {
  LogTimeCache cache;
  cache.records_ = std::move(records);
  cache.scanned_at_ = scanned_at;
  for (std::size_t i = 0; i < cache.records_.size(); ++i) {
    if (!may_have_changed_unseen(cache.records_[i].identity, scanned_at)) continue;
    cache.untrusted_.resize(cache.records_.size());
    cache.untrusted_[i] = true;
  }
  return cache;
}

void LogTimeCache::replace(std::vector<Record> records, os::Timestamp scanned_at) {
  records_ = std::move(records);
  untrusted_.clear();
  scanned_at_ = scanned_at;
  changed_ = true;
}

std::optional<std::size_t> LogTimeCache::Lookup::position(std::string_view path) {
  const auto& records = cache_.records_;
  if (next_ < records.size() && records[next_].path == path) return next_;
  return positions_.find(records, path);
}

std::optional<std::optional<std::int64_t>> LogTimeCache::Lookup::find(std::string_view path,
                                                                      const FileIdentity& identity) {
  const auto found = position(path);
  if (!found) return std::nullopt;
  const bool in_order = *found == next_;
  next_ = *found + 1;
  const auto& record = cache_.records_[*found];
  const bool trusted = cache_.untrusted_.empty() || !cache_.untrusted_[*found];
  if (!trusted || record.identity != identity) return std::nullopt;
  if (in_order && answered_in_order_ == *found) ++answered_in_order_;
  return record.time;
}

bool LogTimeCache::Lookup::found_all_in_order(std::size_t count) const {
  return count == cache_.records_.size() && answered_in_order_ == count;
}

}  // namespace vexlo
