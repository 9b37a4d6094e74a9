#include "vexlo/query/memory_budget.h"

#include <gtest/gtest.h>

#include <string>

#include "vexlo/json/memory_needs.h"

namespace vexlo {
namespace {

std::string repeated(std::string_view part, int times, std::string_view open, std::string_view close) {
  std::string text(open);
  for (int i = 0; i < times; ++i) text += part;
  return text += close;
}

TEST(MemoryBudget, RefusesWhatTakesMoreThanThreeTimesTheLogAndTheSlack) {
  const std::string empties = repeated("[],", 100000, "[", "[]]");
  const std::string long_string = repeated("x", 300000, "[\"", "\"]");
  const std::string refusal = refusal_for(empties, {}, 0);
  EXPECT_TRUE(refusal.starts_with("too large to hold in memory (needs about ")) << refusal;
  EXPECT_TRUE(refusal.ends_with(" MB)")) << refusal;
  EXPECT_EQ(refusal_for(long_string, {}, 0), "");
  // The line of --content, as long as the text, tips the long string over.
  EXPECT_NE(refusal_for(long_string, {.line = true}, 0), "");
  // Members of 46 bytes take 90 without the list that puts them in name
  // order, 114 with it: more than twice their text.
  const std::string members = repeated(R"("":")" + std::string(40, 'x') + R"(",)", 10000, "{", R"("":0})");
  EXPECT_NE(refusal_for(members, {}, 0), "");
  // Texts too small to exceed the slack in any shape are not counted.
  EXPECT_EQ(refusal_for(empties, {}, empties.size() * (json::kWorstNeedsPerTextByte + 2)), "");
}

TEST(MemoryBudget, ReadersOfUncountedLogsShareHalfTheSlack) {
  for (const std::size_t readers : {1u, 2u, 8u}) {
    EXPECT_LE(readers * uncounted_log_size(readers) * (json::kWorstNeedsPerTextByte + 2), kMemorySlack / 2);
  }
}

}  // namespace
}  // namespace vexlo
