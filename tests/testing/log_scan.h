#pragma once
// A scan of a log tree as a run without a log time cache makes it: every
// file read, on the calling thread.

#include <string>
#include <vector>

#include "vexlo/db/log_scan.h"
#include "vexlo/db/log_time_cache.h"

namespace vexlo::testing {

inline Status scan_afresh(const std::string& directory, std::vector<FileEntry>& entries) {
  SystemScanSource source;
  LogTimeCache cache;
  return scan_log_files(directory, entries, source, cache, 1);
}

}  // namespace vexlo::testing
