#pragma once
// The layout of the file that keeps the log time cache from one run to the
// next (described in docs/log-time-cache.md). Loading accepts whatever the
// file holds: anything that is not a whole, intact file of this version
// gives no cache at all.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vexlo/db/log_time_cache.h"

namespace vexlo {

// A cache file larger than this is not read: at about 100 bytes per log
// file it would take millions of log files to fill.
inline constexpr std::uint64_t kMaxLogTimeCacheFileSize = std::uint64_t{512} << 20;

std::string encode_log_time_cache(const LogTimeCache& cache);

// The cache the text holds, or none when it is of another version, cut
// short, damaged or otherwise not what encode_log_time_cache writes.
std::optional<LogTimeCache> decode_log_time_cache(std::string_view text);

}  // namespace vexlo
