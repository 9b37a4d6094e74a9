// Bringing the database in line with the log files on disk.

#include <algorithm>

#include "vexlo/db/database.h"

namespace vexlo {

Status Database::sync(const std::string& log_root) {
  std::vector<FileEntry> scanned;
  if (auto scan = scan_log_files(log_root, scanned); !scan) {
    // Nothing will be saved: let the next run in.
    lock_.release();
    return scan;
  }
  std::stable_sort(scanned.begin(), scanned.end(),
                   [](const FileEntry& a, const FileEntry& b) { return a.timestamp < b.timestamp; });
  // Known paths keep their IDs; new files are numbered in time order, so
  // IDs count arrivals.
  for (auto& entry : scanned) {
    const FileEntry* known = find_by_path(entry.path);
    entry.id = known != nullptr ? known->id : next_file_id_++;
  }
  files_ = std::move(scanned);
  path_index_.clear();
  return save();
}

}  // namespace vexlo
