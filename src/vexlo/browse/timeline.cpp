#include "vexlo/browse/timeline.h"

#include <algorithm>
#include <limits>

namespace vexlo::browse {
namespace {

// The start of the bucket of `width` seconds that holds `time`, rounded
// towards the past also before 1970, except within a bucket of the
// smallest instant, where that would overflow.
std::int64_t floor_to(std::int64_t time, std::int64_t width) {
  const std::int64_t remainder = time % width;
  const std::int64_t towards_zero = time - remainder;
  if (remainder >= 0 || towards_zero < std::numeric_limits<std::int64_t>::min() + width) return towards_zero;
  return towards_zero - width;
}

}  // namespace

std::optional<std::size_t> Timeline::bucket_of(std::int64_t time) const {
  if (counts.empty() || time < start) return std::nullopt;
  // Computed without overflow: the strip is short, the instant may not be.
  const auto offset = static_cast<std::uint64_t>(time) - static_cast<std::uint64_t>(start);
  const std::uint64_t bucket = offset / static_cast<std::uint64_t>(width);
  if (bucket >= counts.size()) return std::nullopt;
  return static_cast<std::size_t>(bucket);
}

Timeline make_timeline(std::span<const FileEntry> entries) {
  Timeline timeline;
  if (entries.empty()) return timeline;
  const auto [oldest, newest] = std::ranges::minmax(entries, {}, &FileEntry::timestamp);
  // The first and last bucket are floored, so the span is never negative
  // and the division below never overflows.
  const std::int64_t last_day = floor_to(newest.timestamp, kDay);
  const std::int64_t first_day = floor_to(oldest.timestamp, kDay);
  const bool hourly = static_cast<std::uint64_t>(last_day) - static_cast<std::uint64_t>(first_day) <
                      static_cast<std::uint64_t>(kHourlyDays * kDay);
  timeline.width = hourly ? kHour : kDay;
  const std::int64_t last = floor_to(newest.timestamp, timeline.width);
  const std::uint64_t span =
      (static_cast<std::uint64_t>(last) - static_cast<std::uint64_t>(floor_to(oldest.timestamp, timeline.width))) /
      static_cast<std::uint64_t>(timeline.width);
  const std::size_t buckets = static_cast<std::size_t>(std::min<std::uint64_t>(span, kMaxBuckets - 1)) + 1;
  timeline.start = last - static_cast<std::int64_t>(buckets - 1) * timeline.width;
  timeline.counts.assign(buckets, 0);
  for (const FileEntry& entry : entries) {
    if (const auto bucket = timeline.bucket_of(entry.timestamp)) {
      ++timeline.counts[*bucket];
    } else {
      ++timeline.older;
    }
  }
  return timeline;
}

std::vector<std::size_t> bar_heights(const Timeline& timeline, std::size_t rows) {
  std::vector<std::size_t> heights;
  const std::size_t largest = timeline.counts.empty() ? 0 : std::ranges::max(timeline.counts);
  for (const std::size_t count : timeline.counts) {
    if (count == 0) {
      heights.push_back(0);
    } else {
      // Rounded up; a count is at most the number of logs held in memory.
      heights.push_back((count * rows + largest - 1) / largest);
    }
  }
  return heights;
}

}  // namespace vexlo::browse
