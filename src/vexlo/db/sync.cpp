// Bringing the database in line with the log files on disk.

#include <algorithm>
#include <cstdint>
#include <limits>

#include "vexlo/db/database.h"

namespace vexlo {
namespace {

// The counter stops at its largest value, which is never handed out: the
// counter could not move past it, and wrapping around to 0 ("no ID") and on
// would give IDs a second time. Files that arrive then get no ID.
std::uint64_t take_next_id(std::uint64_t& next_file_id) {
  if (next_file_id == std::numeric_limits<std::uint64_t>::max()) return 0;
  return next_file_id++;
}

}  // namespace

Status Database::sync(const std::string& log_root) {
  std::vector<FileEntry> scanned;
  if (auto result = scan(log_root, scanned); !result) {
    // Nothing will be saved: let the next run in.
    lock_.release();
    return result;
  }
  std::stable_sort(scanned.begin(), scanned.end(),
                   [](const FileEntry& a, const FileEntry& b) { return a.timestamp < b.timestamp; });
  // Known paths keep their IDs; new files are numbered in time order, so
  // IDs count arrivals. A read-only database numbers nothing: an ID that is
  // not saved would name another file in the next run.
  std::vector<FileEntry> kept;
  kept.reserve(scanned.size());
  for (auto& entry : scanned) {
    if (const FileEntry* known = find_by_path(entry.path)) {
      entry.id = known->id;
    } else if (read_only_) {
      continue;
    } else {
      entry.id = take_next_id(next_file_id_);
    }
    kept.push_back(std::move(entry));
  }
  files_ = std::move(kept);
  path_index_.clear();
  if (read_only_) return {};
  return save();
}

Status Database::scan(const std::string& log_root, std::vector<FileEntry>& entries) const {
  return scan_log_files(log_root, entries, log_times_);
}

}  // namespace vexlo
