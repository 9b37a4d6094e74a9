#include "vexlo/db/path_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexlo {
namespace {

struct Item {
  std::string path;
};

TEST(PathIndex, FirstPositionOfEachPath) {
  std::vector<Item> items;
  for (int i = 0; i < 1000; ++i) items.push_back({"/logs/" + std::to_string(i % 700) + ".json"});
  PathIndex index;
  const struct {
    std::string path;
    std::optional<std::size_t> position;
  } cases[] = {
      {"/logs/0.json", 0}, {"/logs/699.json", 699}, {"/logs/299.json", 299},  // each below 300 also at 700 + it
      {"/logs/700.json", std::nullopt}, {"", std::nullopt}, {"/logs/0.jso", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(index.find(items, c.path), c.position) << c.path;
  // Cleared, it is built again for another list.
  items.erase(items.begin());
  index.clear();
  EXPECT_EQ(index.find(items, "/logs/0.json"), 699u);
  index.clear();
  EXPECT_EQ(index.find(std::vector<Item>{}, "/logs/0.json"), std::nullopt);
}

}  // namespace
}  // namespace vexlo
