#include "vexlo/os/tree_watch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>

#include "testing/temp_dir.h"

namespace vexlo::os {
namespace {

Result<Directory> plain_only(const Directory& parent, const std::string& name) {
  return parent.open_entry(name, Links::DoNotFollow);
}
Result<Directory> any(const Directory& parent, const std::string& name) { return parent.open_entry(name, Links::Follow); }

// Files written behind links, one there from the start and one swapped in
// for a directory just announced, are seen only where the rule lets the
// watch enter the links; one in a plain subdirectory always is.
TEST(TreeWatch, EntersOnlyWhatItsRuleEnters) {
  for (const auto& [rule, behind_links_seen] : {std::pair{&plain_only, false}, std::pair{&any, true}}) {
    testing::ScopedTempDir dir;
    for (const char* path : {"root/plain", "early", "late"}) testing::make_dirs(dir / path);
    ASSERT_EQ(::symlink((dir / "early").c_str(), (dir / "root/early").c_str()), 0);
    auto watch = TreeWatch::open(dir / "root", ".config", rule);
    ASSERT_TRUE(watch) << watch.error().text;
    testing::make_dirs(dir / "root/new");
    ASSERT_EQ(::rename((dir / "root/new").c_str(), (dir / "away").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "late").c_str(), (dir / "root/new").c_str()), 0);
    ASSERT_TRUE(watch->wait(-1, std::chrono::milliseconds(10)));
    for (const char* path : {"early/a.json", "late/b.json", "root/plain/c.json"}) testing::write_file(dir / path, "{}");
    const auto changes = watch->wait(-1, std::chrono::milliseconds(10));
    ASSERT_TRUE(changes && *changes);
    const std::vector<std::string>& files = (*changes)->files;
    EXPECT_EQ(std::ranges::count(files, dir / "root/early/a.json") > 0, behind_links_seen);
    EXPECT_EQ(std::ranges::count(files, dir / "root/new/b.json") > 0, behind_links_seen);
    EXPECT_GT(std::ranges::count(files, dir / "root/plain/c.json"), 0);
  }
}

// What the listing shows to be a file is not tried as a directory.
TEST(TreeWatch, TriesNoFileAsADirectory) {
  testing::ScopedTempDir dir;
  testing::make_dirs(dir / "root/sub");
  testing::write_file(dir / "root/a.json", "{}");
  std::vector<std::string> tried;
  auto watch = TreeWatch::open(dir / "root", ".config", [&](const Directory& parent, const std::string& name) {
    tried.push_back(name);
    return any(parent, name);
  });
  ASSERT_TRUE(watch) << watch.error().text;
  EXPECT_EQ(tried, std::vector<std::string>{"sub"});
}

// A directory made behind a link that the rule no longer enters is not
// watched, though the link's target still is; two directories exchanged
// keep their own paths.
TEST(TreeWatch, NewDirectoriesAreEnteredAsTheRuleEntersThemNow) {
  testing::ScopedTempDir dir;
  for (const char* path : {"root/a", "root/b", "elsewhere"}) testing::make_dirs(dir / path);
  ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "root/link").c_str()), 0);
  // As a rule does that looks at who owns a link, which another user may
  // change while the watch runs.
  bool links_entered = true;
  auto watch = TreeWatch::open(dir / "root", ".config", [&](const Directory& parent, const std::string& name) {
    return parent.open_entry(name, links_entered ? Links::Follow : Links::DoNotFollow);
  });
  ASSERT_TRUE(watch) << watch.error().text;
  links_entered = false;
  testing::make_dirs(dir / "elsewhere/new");
  ASSERT_EQ(::renameat2(AT_FDCWD, (dir / "root/a").c_str(), AT_FDCWD, (dir / "root/b").c_str(), RENAME_EXCHANGE), 0);
  ASSERT_TRUE(watch->wait(-1, std::chrono::milliseconds(10)));
  for (const char* path : {"elsewhere/new/x.json", "root/a/y.json", "root/b/z.json"}) testing::write_file(dir / path, "{}");
  const auto changes = watch->wait(-1, std::chrono::milliseconds(10));
  ASSERT_TRUE(changes && *changes);
  std::vector<std::string> files = (*changes)->files;
  std::ranges::sort(files);
  files.erase(std::unique(files.begin(), files.end()), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{dir / "root/a/y.json", dir / "root/b/z.json"}));
}

// Directories renamed again, or moved into a new one, before the watch
// reads the events: files written there later are seen at their paths.
TEST(TreeWatch, DirectoriesMovedBeforeTheEventsAreReadKeepBeingWatched) {
  const struct {
    std::vector<std::pair<const char*, const char*>> moves;  // after making the first directory, if any
    const char* made;
    const char* written;
  } cases[] = {
      {{{"root/P/C", "root/P/D"}, {"root/P", "root/Q"}}, nullptr, "root/Q/D/x.json"},
      {{{"root/P", "root/N/P"}}, "root/N", "root/N/P/C/x.json"},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    testing::make_dirs(dir / "root/P/C");
    auto watch = TreeWatch::open(dir / "root", ".config", any);
    ASSERT_TRUE(watch) << watch.error().text;
    if (c.made != nullptr) testing::make_dirs(dir / c.made);
    for (const auto& [from, to] : c.moves) ASSERT_EQ(::rename((dir / from).c_str(), (dir / to).c_str()), 0);
    ASSERT_TRUE(watch->wait(-1, std::chrono::milliseconds(10)));
    testing::write_file(dir / c.written, "{}");
    const auto changes = watch->wait(-1, std::chrono::milliseconds(10));
    ASSERT_TRUE(changes && *changes);
    EXPECT_GT(std::ranges::count((*changes)->files, dir / c.written), 0) << c.written;
  }
}

}  // namespace
}  // namespace vexlo::os
