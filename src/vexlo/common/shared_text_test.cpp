#include "vexlo/common/shared_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vexlo {
namespace {

TEST(SharedText, CopiesShareOneBlockThatOutlivesTheFirstHolder) {
  std::vector<SharedText> copies;
  {
    SharedText original(std::string("/logs/a\0b.json", 14));
    copies.assign(3, original);
    SharedText moved = std::move(original);
    EXPECT_TRUE(original.empty());
    EXPECT_TRUE(moved.shares(copies[0]));
    moved = copies[1];  // assigned the block it holds
    moved = moved;
    EXPECT_TRUE(moved.shares(copies[2]));
  }
  EXPECT_EQ(copies[2].view(), std::string_view("/logs/a\0b.json", 14));
  EXPECT_EQ(copies[2].c_str()[14], '\0');
  EXPECT_FALSE(copies[0].shares(SharedText(copies[0].view())));
  EXPECT_EQ(copies[0], SharedText(copies[0].view()));
}

TEST(SharedText, ComparesAsItsText) {
  const SharedText empty;
  EXPECT_EQ(empty, "");
  EXPECT_EQ(std::strlen(empty.c_str()), 0u);
  EXPECT_FALSE(empty.shares(SharedText()));
  EXPECT_LT(SharedText("a/b"), SharedText("a/c"));
  EXPECT_LT(SharedText("a"), std::string_view("a/"));
  EXPECT_EQ(SharedText("x.json").find(".json"), 1u);
  EXPECT_TRUE(SharedText("/logs/x").starts_with("/logs/"));
}

TEST(SharedText, CopiesOnManyThreadsCountEveryHolder) {
  const SharedText text("/logs/shared.json");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&text] {
      for (int i = 0; i < 10000; ++i) {
        SharedText copy = text;
        ASSERT_EQ(copy, "/logs/shared.json");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(text, "/logs/shared.json");
}

}  // namespace
}  // namespace vexlo
