#include "vexlo/browse/timeline.h"

#include <gtest/gtest.h>

#include <limits>

namespace vexlo::browse {
namespace {

constexpr std::int64_t kDec4 = 1764806400;  // 2025-12-04 00:00:00 UTC

std::vector<FileEntry> at(std::initializer_list<std::int64_t> times) {
  std::vector<FileEntry> entries;
  for (const std::int64_t time : times) entries.push_back({"p", 1, time});
  return entries;
}

TEST(MakeTimeline, CountsPerDayOrPerHourForFewDays) {
  const struct {
    std::vector<FileEntry> entries;
    std::int64_t start;
    std::int64_t width;
    std::vector<std::size_t> counts;
  } cases[] = {
      {at({}), 0, kDay, {}},
      {at({kDec4 + 5}), kDec4, kHour, {1}},
      {at({kDec4 + 10, kDec4 + 2 * kHour + 1, kDec4 + 2 * kHour}), kDec4, kHour, {1, 0, 2}},
      {at({kDec4 - 1, kDec4 + 3 * kDay}), kDec4 - kDay, kDay, {1, 0, 0, 0, 1}},
      {at({-kHour - 1, -kHour}), -2 * kHour, kHour, {1, 1}},
  };
  for (const auto& c : cases) {
    const Timeline timeline = make_timeline(c.entries);
    EXPECT_EQ(timeline.width, c.width);
    EXPECT_EQ(timeline.counts, c.counts);
    if (!c.counts.empty()) {
      EXPECT_EQ(timeline.start, c.start);
    }
  }
  // Three calendar days are still counted per hour.
  EXPECT_EQ(make_timeline(at({kDec4, kDec4 + 3 * kDay - 1})).counts.size(), 72u);
}

TEST(MakeTimeline, FarOffTimesKeepTheStripShort) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  const Timeline timeline = make_timeline(at({std::numeric_limits<std::int64_t>::min(), 0, kMax}));
  ASSERT_EQ(timeline.counts.size(), kMaxBuckets);
  EXPECT_EQ(timeline.counts.back(), 1u);
  EXPECT_EQ(timeline.older, 2u);
  EXPECT_EQ(timeline.bucket_of(kMax), kMaxBuckets - 1);
  EXPECT_EQ(timeline.bucket_of(0), std::nullopt);
}

TEST(BarHeights, TheLargestFillsAndAnyLogShows) {
  Timeline timeline;
  timeline.counts = {0, 1, 50, 100, 34};
  EXPECT_EQ(bar_heights(timeline, 3), (std::vector<std::size_t>{0, 1, 2, 3, 2}));
  EXPECT_EQ(bar_heights(Timeline{}, 3), std::vector<std::size_t>{});
}

}  // namespace
}  // namespace vexlo::browse
