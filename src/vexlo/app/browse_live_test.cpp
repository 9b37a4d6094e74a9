#include "vexlo/app/browse_live.h"

#include <gtest/gtest.h>

namespace vexlo {
namespace {

TEST(SharedLines, HandsOverCompleteLinesOnly) {
  SharedLines lines;
  std::ostream stream(&lines);
  stream << "one\ntw";
  EXPECT_EQ(lines.take(), "one\n");
  EXPECT_EQ(lines.take(), "");
  stream << "o\n";
  EXPECT_EQ(lines.take(), "two\n");
}

TEST(ReadFollowedLines, LogsFromJsonLinesOtherLinesAsMessages) {
  const browse::Listing listing = read_followed_lines(
      "{\"id\":7,\"path\":\"r/a\\u001b.json\",\"time\":-5,\"time_utc\":null}\n"
      "Warning: File r/b.json not found in database\n"
      "{\"id\":0,\"path\":\"r/b.json\",\"time\":1764889310,\"time_utc\":\"2025-12-04T23:01:50Z\"}\n"
      "{\"id\":\"7\",\"path\":\"r/c.json\",\"time\":1}\n");
  EXPECT_EQ(listing.entries, (std::vector<FileEntry>{{"r/a\x1b.json", 7, -5}, {"r/b.json", 0, 1764889310}}));
  EXPECT_EQ(listing.messages,
            "Warning: File r/b.json not found in database\n{\"id\":\"7\",\"path\":\"r/c.json\",\"time\":1}\n");
}

}  // namespace
}  // namespace vexlo
