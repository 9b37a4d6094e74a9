#pragma once
// The timeline strip: how many of the listed logs fall in each day, or in
// each hour when they span only a few days, so that a pattern in time is
// seen rather than read.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "vexlo/db/file_entry.h"

namespace vexlo::browse {

inline constexpr std::int64_t kHour = 3600;
inline constexpr std::int64_t kDay = 24 * kHour;
// Logs that span at most this many calendar days are counted per hour.
inline constexpr std::int64_t kHourlyDays = 3;
// The strip counts at most this many buckets back from the newest log, so
// that a log dated far away costs no memory; older logs are only counted.
inline constexpr std::size_t kMaxBuckets = 1000;

struct Timeline {
  std::int64_t start = 0;           // the first bucket's first second (UTC)
  std::int64_t width = kDay;        // of each bucket, in seconds: kDay or kHour
  std::vector<std::size_t> counts;  // per bucket, oldest first; empty without logs
  std::size_t older = 0;            // logs before the first bucket

  // The bucket of an instant, when it lies in the strip.
  std::optional<std::size_t> bucket_of(std::int64_t time) const;
  std::int64_t bucket_start(std::size_t bucket) const { return start + static_cast<std::int64_t>(bucket) * width; }
};

// The strip of the entries' times.
Timeline make_timeline(std::span<const FileEntry> entries);

// The height in rows, 0 to `rows`, of each bucket's bar: the largest count
// fills all rows, and any log at all shows at least one.
std::vector<std::size_t> bar_heights(const Timeline& timeline, std::size_t rows);

}  // namespace vexlo::browse
