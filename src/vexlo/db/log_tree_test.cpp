#include "vexlo/db/log_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "testing/child_process.h"
#include "testing/machine.h"
#include "testing/log_scan.h"
#include "testing/temp_dir.h"
#include "vexlo/db/database.h"
#include "vexlo/db/log_time_cache.h"
#include "vexlo/os/file_system.h"

namespace vexlo {
namespace {

using testing::kValid;
using testing::scan;
using testing::sorted_paths;
using testing::symlink_or_fail;

TEST(HasJsonExtension, OnlyTheLastDotAndNotALeadingOne) {
  const struct {
    const char* name;
    bool json;
  } cases[] = {
      {"a.json", true},   {".x.json", true},   {"a.b.json", true}, {"..json", true},
      {".json", false},   {"a.JSON", false},   {"a.json.bak", false}, {"json", false},
      {"a.", false},      {"a.jsonx", false},  {"ajson", false},   {"a.json ", false},
  };
  for (const auto& c : cases) EXPECT_EQ(has_json_extension(c.name), c.json) << c.name;
}

TEST(ScanLogFiles, TakesRegularJsonFilesOutsideConfigDirectories) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "logs";
  for (const char* name : {"a.json", ".x.json", "a.b.json", "config/c.json", ".Config/d.json", "deep/er/e.json",
                           ".json", "a.JSON", "a.json.bak", "json", "notes.txt", ".config/vexlo-db.json",
                           ".config/f.json", "deep/.config/g.json", "deep/er/.config/h.json"}) {
    testing::write_file(root + "/" + name, kValid);
  }
  testing::make_dirs(root + "/dir.json");
  for (const char* name : {"empty.json", "invalid.json", "two.json", "binary.json"}) {
    testing::write_file(root + "/" + name, std::string_view(name) == "empty.json"     ? ""
                                           : std::string_view(name) == "invalid.json" ? "{\"a\": }"
                                           : std::string_view(name) == "two.json"     ? "{} {}"
                                                                                       : "{\"a\": \"\xc0\"}");
  }
  ASSERT_EQ(::mkfifo((root + "/fifo.json").c_str(), 0644), 0);
  symlink_or_fail("/dev/null", root + "/device.json");
  EXPECT_EQ(sorted_paths(scan(root)),
            (std::vector<std::string>{root + "/.Config/d.json", root + "/.x.json", root + "/a.b.json",
                                      root + "/a.json", root + "/config/c.json", root + "/deep/er/e.json"}));

  // The regular "json" files passed over for their content, when asked for.
  std::vector<FileEntry> entries;
  ScanNotes notes;
  SystemScanSource source;
  LogTimeCache cache;
  ASSERT_TRUE(scan_log_files(root, entries, source, cache, 2, &notes));
  EXPECT_EQ(entries.size(), 6u);
  std::sort(notes.unreadable.begin(), notes.unreadable.end());
  EXPECT_EQ(notes.unreadable, (std::vector<std::string>{root + "/binary.json", root + "/empty.json",
                                                  root + "/invalid.json", root + "/two.json"}));
}

TEST(ScanLogFiles, DiscoveryOrderIsListingOrderDepthFirst) {
  testing::ScopedTempDir dir;
  for (int i = 0; i < 12; ++i) testing::write_file(dir / ("f" + std::to_string(i) + ".json"), kValid);
  for (int i = 0; i < 5; ++i) testing::write_file(dir / ("sub/g" + std::to_string(i) + ".json"), kValid);
  std::vector<std::string> expected;
  const auto names = testing::directory_names(dir.path());
  const auto inner_names = testing::directory_names(dir / "sub");
  for (const auto& name : names) {
    if (name != "sub") {
      expected.push_back(dir / name);
      continue;
    }
    for (const auto& inner : inner_names) expected.push_back(dir / ("sub/" + inner));
  }
  std::vector<std::string> found;
  for (const auto& entry : scan(dir.path())) found.push_back(entry.path.str());
  EXPECT_EQ(found, expected);
}

TEST(ScanLogFiles, RootThatIsNoDirectoryGivesNothing) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "a.json", kValid);
  symlink_or_fail(dir / "missing", dir / "broken");
  for (const std::string& root : {dir / "a.json", dir / "missing", dir / "broken"}) {
    EXPECT_TRUE(scan(root).empty()) << root;
  }
}

TEST(ScanLogFiles, FollowsSymbolicLinksUnderTheirOwnPaths) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "logs";
  testing::write_file(dir / "elsewhere/x.json", kValid);
  testing::write_file(dir / "target.json", R"({"a": 1})", 1600000000);
  testing::make_dirs(root);
  symlink_or_fail(dir / "elsewhere", root + "/linked");
  symlink_or_fail(dir / "target.json", root + "/file.json");
  symlink_or_fail(dir / "missing.json", root + "/broken.json");
  auto found = scan(root);
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0], (FileEntry{root + "/file.json", 0, 1600000000}));
  EXPECT_EQ(found[1].path, root + "/linked/x.json");
}

TEST(OpenLogFile, AnotherUsersLinkSwappedDuringTheCheckLeadsOnlyWhereItWasChecked) {
  testing::ScopedTempDir dir;
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to make links of another user";
  testing::write_file(dir / "secret.json", kValid);
  ASSERT_EQ(::chown(dir.path().c_str(), 65534, 65534), 0);  // the other user's, as testing::kUnprivilegedId
  symlink_or_fail("swapped.json", dir / "latest.json");  // root's own link
  std::jthread swapper([&, next = dir / "next"](std::stop_token stop) {
    for (int i = 0; !stop.stop_requested(); ++i) {
      if (::symlink(i % 2 ? "secret.json" : ".", next.c_str()) || ::lchown(next.c_str(), 65534, 65534)) continue;
      ::rename(next.c_str(), (dir / "swapped.json").c_str());
    }
  });
  for (int i = 0; i < 20000; ++i) ASSERT_FALSE(open_log_file(dir.path(), dir / "latest.json")) << i;
}

TEST(ScanLogFiles, EachDirectoryIsEnteredOnce) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "logs";
  testing::write_file(root + "/a.json", kValid);
  testing::write_file(root + "/sub/b.json", kValid);
  testing::write_file(root + "/other/c.json", kValid);
  // Two links back to the root would repeat the tree exponentially.
  symlink_or_fail(".", root + "/self1");
  symlink_or_fail("..", root + "/sub/up");
  symlink_or_fail(root, root + "/sub/root");
  symlink_or_fail("../sub", root + "/sub/again");
  // A link to a sibling is no cycle, but its files come only once, under
  // the path the scan reaches first.
  symlink_or_fail("../other", root + "/sub/sibling");
  const auto paths = sorted_paths(scan(root));
  ASSERT_EQ(paths.size(), 3u);
  EXPECT_EQ(paths[0], root + "/a.json");
  EXPECT_TRUE(paths[1] == root + "/other/c.json" || paths[2] == root + "/sub/sibling/c.json") << paths[1];
  EXPECT_EQ(std::count(paths.begin(), paths.end(), root + "/sub/b.json"), 1);
  // Entering through a link to the root is caught as well.
  EXPECT_EQ(scan(root + "/self1").size(), 3u);
}

// Two links from each level to the next, twenty levels deep: 2^20 paths
// to the bottom, 21 directories.
TEST(ScanLogFiles, LinksThatMultiplyPathsCostOnlyTheTree) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "logs";
  constexpr int kLevels = 20;
  for (int level = 0; level < kLevels; ++level) {
    const std::string here = root + "/d" + std::to_string(level);
    testing::make_dirs(here);
    symlink_or_fail("../d" + std::to_string(level + 1), here + "/a");
    symlink_or_fail("../d" + std::to_string(level + 1), here + "/b");
  }
  testing::write_file(root + "/d" + std::to_string(kLevels) + "/bottom.json", kValid);
  const auto paths = sorted_paths(scan(root));
  ASSERT_EQ(paths.size(), 1u);
  // The bottom is reached first through the real directory or the first
  // link listed at each level; either way exactly once.
  EXPECT_TRUE(paths[0].ends_with("/bottom.json")) << paths[0];
}

TEST(ScanLogFiles, DeepTreesAndSiblingsAfterThemAreAllFound) {
  // Deeper than the directories the scan keeps open, with files on the way
  // back up after each subtree.
  testing::ScopedTempDir dir;
  std::string relative = "logs";
  std::vector<std::string> expected;
  for (int depth = 0; depth < 45; ++depth) {
    relative += "/d" + std::to_string(depth);
    for (const char* name : {"a.json", "z.json"}) {
      testing::write_file(dir / (relative + "/" + name), kValid);
      expected.push_back(dir / (relative + "/" + name));
    }
    testing::write_file(dir / (relative + "-sibling/s.json"), kValid);
    expected.push_back(dir / (relative + "-sibling/s.json"));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sorted_paths(scan(dir / "logs")), expected);
  // The root spelled with a trailing "/": its entries are joined without
  // another one, and the paths come out the same.
  EXPECT_EQ(sorted_paths(scan(dir / "logs/")), expected);
}

// Removes chosen files and directories right after the scan has looked at
// them, as the daemon rotating its logs might; fails listings of others.
class RotatingSource : public SystemScanSource {
 public:
  std::set<std::string> vanishing;
  std::map<std::string, int> failing_listings;

  Result<os::FileStatus> status(const std::string& path) override {
    auto result = SystemScanSource::status(path);
    if (vanishing.contains(path)) std::filesystem::remove_all(path);
    return result;
  }
  Result<std::vector<std::string>> list(const std::string& directory) override {
    if (const auto failing = failing_listings.find(directory); failing != failing_listings.end()) {
      return std::unexpected(os::os_error(failing->second));
    }
    return SystemScanSource::list(directory);
  }
};

TEST(ScanLogFiles, VanishedFilesAndDirectoriesArePassedOverOtherFailuresEndTheScan) {
  const struct {
    const char* name;
    std::vector<std::string> vanishing;
    std::map<std::string, int> failing_listings;
    std::string result;
  } cases[] = {
      {"file", {"/logs/b.json"}, {}, "ok /logs/a.json /logs/sub/c.json"},
      {"directory", {"/logs/sub"}, {}, "ok /logs/a.json /logs/b.json"},
      {"log root", {"/logs"}, {}, "ok"},
      {"listing finds no directory", {}, {{"/logs/sub", ENOENT}}, "ok /logs/a.json /logs/b.json"},
      {"listing fails otherwise", {}, {{"/logs/sub", EIO}},
       "ok /logs/a.json /logs/b.json, passed over /logs/sub: Input/output error (os error 5)"},
      {"root listing fails", {}, {{"/logs", EACCES}}, "Permission denied (os error 13)"},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    for (const char* name : {"logs/a.json", "logs/b.json", "logs/sub/c.json"}) testing::write_file(dir / name, kValid);
    RotatingSource source;
    for (const auto& path : c.vanishing) source.vanishing.insert(dir.path() + path);
    for (const auto& [path, code] : c.failing_listings) source.failing_listings[dir.path() + path] = code;
    std::vector<FileEntry> entries;
    LogTimeCache cache;
    ScanNotes notes;
    auto scanned = scan_log_files(dir / "logs", entries, source, cache, 2, &notes);
    std::string result = scanned ? "ok" : scanned.error().text;
    if (scanned) {
      for (const auto& path : sorted_paths(entries)) result += " " + path.substr(dir.path().size());
    }
    for (const auto& passed : notes.passed_over) {
      result += ", passed over " + passed.path.substr(dir.path().size()) + ": " + passed.reason;
    }
    EXPECT_EQ(result, c.result) << c.name;
  }
}

TEST(ScanLogFilesPermissions, UnlistableDirectoryIsPassedOverUnreadableFileIsSkipped) {
  testing::ScopedTempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  if (const std::string why = testing::why_no_second_user(dir.path()); !why.empty()) GTEST_SKIP() << why;
  const std::string root = dir / "logs";
  testing::write_file(root + "/a.json", kValid);
  testing::write_file(root + "/secret.json", kValid);
  ASSERT_EQ(::chmod((root + "/secret.json").c_str(), 0000), 0);
  testing::write_file(root + "/.config/hidden/x.json", kValid);
  ASSERT_EQ(::chmod((root + "/.config/hidden").c_str(), 0000), 0);
  testing::make_dirs(root + "/locked");
  const auto scan_summary = [&] {
    std::vector<FileEntry> entries;
    auto scanned = testing::scan_afresh(root, entries);
    std::string result = scanned ? "ok" : scanned.error().text;
    for (const auto& path : sorted_paths(entries)) result += " " + path.substr(root.size());
    return result;
  };
  std::string why;
  auto readable = testing::run_unprivileged(scan_summary, &why);
  ASSERT_TRUE(readable) << why;
  EXPECT_EQ(*readable, "ok /a.json");

  // The cache keeps what the content of a file said, never that it could not
  // be read: access may come back without the file changing.
  const auto cached_paths = [&] {
    std::vector<FileEntry> entries;
    SystemScanSource source;
    LogTimeCache cache;
    if (auto scanned = scan_log_files(root, entries, source, cache, 2); !scanned) return scanned.error().text;
    std::string result;
    for (const auto& record : cache.records()) result += " " + record.path.substr(root.size());
    return result;
  };
  auto cached = testing::run_unprivileged(cached_paths, &why);
  ASSERT_TRUE(cached) << why;
  EXPECT_EQ(*cached, " /a.json");

  ASSERT_EQ(::chmod((root + "/locked").c_str(), 0000), 0);
  auto locked = testing::run_unprivileged(scan_summary, &why);
  ASSERT_TRUE(locked) << why;
  EXPECT_EQ(*locked, "ok /a.json") << "passed over";
}

}  // namespace
}  // namespace vexlo
