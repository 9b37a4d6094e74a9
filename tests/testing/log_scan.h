#pragma once
// A scan of a log tree as a run without a log time cache makes it: every
// file read, on the calling thread.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "vexlo/db/log_scan.h"
#include "vexlo/db/log_time_cache.h"

namespace vexlo::testing {

inline Status scan_afresh(const std::string& directory, std::vector<FileEntry>& entries) {
  SystemScanSource source;
  LogTimeCache cache;
  return scan_log_files(directory, entries, source, cache, 1);
}

// A log file that is valid JSON without a time of its own.
inline constexpr std::string_view kValid = R"({"level": "info"})";

inline std::vector<FileEntry> scan(const std::string& root) {
  std::vector<FileEntry> entries;
  auto scanned = scan_afresh(root, entries);
  EXPECT_TRUE(scanned) << scanned.error().text;
  return entries;
}

inline std::vector<std::string> sorted_paths(const std::vector<FileEntry>& entries) {
  std::vector<std::string> paths;
  for (const auto& entry : entries) paths.push_back(entry.path.str());
  std::sort(paths.begin(), paths.end());
  return paths;
}

inline void symlink_or_fail(const std::string& target, const std::string& link) {
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
}

}  // namespace vexlo::testing
