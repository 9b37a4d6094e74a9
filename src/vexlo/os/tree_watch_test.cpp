#include "vexlo/os/tree_watch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "testing/temp_dir.h"

namespace vexlo::os {
namespace {

bool never(const FileStatus&, const FileStatus&) { return false; }
bool always(const FileStatus&, const FileStatus&) { return true; }

// A file written behind a link is seen only where the rule lets the watch
// follow the link; one in a plain subdirectory always is.
TEST(TreeWatch, FollowsOnlyTheLinksItsRuleAllows) {
  for (const auto& [rule, behind_link_seen] : {std::pair{&never, false}, std::pair{&always, true}}) {
    testing::ScopedTempDir dir;
    testing::make_dirs(dir / "root/plain");
    testing::make_dirs(dir / "elsewhere");
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "root/link").c_str()), 0);
    auto watch = TreeWatch::open(dir / "root", ".config", rule);
    ASSERT_TRUE(watch) << watch.error().text;
    testing::write_file(dir / "elsewhere/a.json", "{}");
    testing::write_file(dir / "root/plain/b.json", "{}");
    const auto changes = watch->wait(-1, std::chrono::milliseconds(10));
    ASSERT_TRUE(changes && *changes);
    const std::vector<std::string> files = (*changes)->files;
    EXPECT_EQ(std::ranges::count(files, dir / "root/link/a.json") > 0, behind_link_seen);
    EXPECT_GT(std::ranges::count(files, dir / "root/plain/b.json"), 0);
  }
}

}  // namespace
}  // namespace vexlo::os
