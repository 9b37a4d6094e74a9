#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "testing/child_process.h"
#include "testing/machine.h"
#include "testing/log_scan.h"
#include "testing/temp_dir.h"
#include "vexlo/db/database.h"
#include "vexlo/db/database_file.h"

namespace vexlo {
namespace {

struct Expected {
  std::string name;  // below the log root
  std::uint64_t id;
  std::int64_t timestamp;
};

std::string log_content(std::int64_t boot_timestamp) {
  return "{\"boot_timestamp\": " + std::to_string(boot_timestamp) + "}";
}

class SyncTest : public ::testing::Test {
 protected:
  void add(const std::string& name, std::int64_t boot_timestamp) {
    testing::write_file(dir_ / name, log_content(boot_timestamp));
  }

  // One run: open, synchronise, and check the entries in memory and on disk,
  // which spell the log root as `stored_root` does.
  void sync_and_expect(const std::vector<Expected>& expected, std::uint64_t next_file_id,
                       const std::string& root = "", const std::string& stored_root = "") {
    const std::string log_root = root.empty() ? dir_.path() : root;
    auto db = Database::open(log_root);
    ASSERT_TRUE(db) << db.error().text;
    auto synced = db->sync(log_root);
    ASSERT_TRUE(synced) << synced.error().text;
    std::vector<FileEntry> want;
    for (const auto& e : expected) {
      want.push_back({(stored_root.empty() ? log_root : stored_root) + "/" + e.name, e.id, e.timestamp});
    }
    EXPECT_EQ(db->files(), want);
    EXPECT_EQ(db->next_file_id(), next_file_id);
    for (auto& entry : want) entry.timestamp = 0;
    const DatabaseContent saved = load_database(testing::read_file(db->db_path())).content;
    EXPECT_EQ(saved.files, want);
    EXPECT_EQ(saved.next_file_id, next_file_id);
  }

  testing::ScopedTempDir dir_;
};

TEST_F(SyncTest, FirstRunNumbersFilesInTimeOrder) {
  add("late.json", 30);
  add("early.json", 10);
  add("middle.json", 20);
  sync_and_expect({{"early.json", 1, 10}, {"middle.json", 2, 20}, {"late.json", 3, 30}}, 4);
}

// Each path is held once however many lists hold it: the synchronisation
// takes the loaded entries' paths, by the cache's records or, where there
// is no cache or it disagrees with the entries, by a search, and a scan
// after it the entries'.
TEST_F(SyncTest, ScansHoldNoSecondCopyOfAKnownPath) {
  for (const char* name : {"a.json", "b.json", "c.json"}) add(name, 5);
  sync_and_expect({{"a.json", 1, 5}, {"b.json", 2, 5}, {"c.json", 3, 5}}, 4);
  add("d.json", 6);
  const auto db_file = dir_ / ".config/vexlo-db.json";
  const std::function<void()> saved_otherwise[] = {
      [] {},
      [&] {
        std::vector<FileEntry> reversed = load_database(testing::read_file(db_file)).content.files;
        std::ranges::reverse(reversed);
        testing::write_file(db_file, render_database(reversed, 5, 0));
      },
      [&] { ASSERT_EQ(::unlink((dir_ / ".config/vexlo-cache").c_str()), 0); },
  };
  for (std::size_t way = 0; way < std::size(saved_otherwise); ++way) {
    saved_otherwise[way]();
    auto db = Database::open(dir_.path());
    ASSERT_TRUE(db);
    const std::vector<FileEntry> loaded = db->files();
    ASSERT_TRUE(db->sync(dir_.path()));
    ASSERT_EQ(db->files().size(), 4u);
    for (const FileEntry& entry : db->files()) {
      const bool shared = std::ranges::any_of(loaded, [&](const FileEntry& old) { return entry.path.shares(old.path); });
      EXPECT_EQ(shared, !entry.path.ends_with("d.json") || way != 0) << entry.path << ", way " << way;
    }
    std::vector<FileEntry> scanned;
    ASSERT_TRUE(db->scan(dir_.path(), scanned));
    ASSERT_EQ(scanned.size(), 4u);
    for (const FileEntry& entry : scanned) {
      EXPECT_TRUE(entry.path.shares(db->find_by_path(entry.path)->path)) << entry.path;
    }
  }
}

TEST_F(SyncTest, EqualTimesKeepDiscoveryOrder) {
  for (const char* name : {"a.json", "b.json", "c.json", "d.json"}) add(name, 5);
  std::vector<FileEntry> discovered;
  ASSERT_TRUE(testing::scan_afresh(dir_.path(), discovered));
  std::vector<Expected> expected;
  for (const auto& entry : discovered) {
    expected.push_back({entry.path.substr(dir_.path().size() + 1), expected.size() + 1, 5});
  }
  sync_and_expect(expected, 5);
}

TEST_F(SyncTest, IdsCountArrivalsNotTimes) {
  add("a.json", 100);
  add("b.json", 200);
  sync_and_expect({{"a.json", 1, 100}, {"b.json", 2, 200}}, 3);
  add("old.json", 50);
  add("older.json", -5);
  sync_and_expect({{"older.json", 3, -5}, {"old.json", 4, 50}, {"a.json", 1, 100}, {"b.json", 2, 200}}, 5);
}

TEST_F(SyncTest, VanishedFilesLoseTheirEntriesAndIdsAreNotReused) {
  add("a.json", 1);
  add("b.json", 2);
  sync_and_expect({{"a.json", 1, 1}, {"b.json", 2, 2}}, 3);
  ASSERT_EQ(std::remove((dir_ / "a.json").c_str()), 0);
  sync_and_expect({{"b.json", 2, 2}}, 3);
  add("a.json", 1);
  sync_and_expect({{"a.json", 3, 1}, {"b.json", 2, 2}}, 4);
  ASSERT_EQ(std::rename((dir_ / "b.json").c_str(), (dir_ / "c.json").c_str()), 0);
  sync_and_expect({{"a.json", 3, 1}, {"c.json", 4, 2}}, 5);
}

TEST_F(SyncTest, KnownPathsKeepTheFirstIdFoundForThem) {
  add("a.json", 1);
  add("b.json", 2);
  testing::write_file(dir_ / ".config/vexlo-db.json",
                      "{\"files\": [{\"id\": 9, \"path\": \"" + dir_.path() + "/a.json\"}, {\"id\": 4, \"path\": \"" +
                          dir_.path() + "/a.json\"}, {\"id\": 3, \"path\": \"gone.json\"}], \"next_file_id\": 20}");
  sync_and_expect({{"a.json", 9, 1}, {"b.json", 20, 2}}, 21);
}

TEST_F(SyncTest, TheSameDirectorySpelledDifferentlyKeepsItsIdsAndSpelling) {
  add("logs/a.json", 1);
  sync_and_expect({{"a.json", 1, 1}}, 2, dir_ / "logs");
  sync_and_expect({{"a.json", 1, 1}}, 2, dir_.path() + "/./logs", dir_ / "logs");
  add("logs/b.json", 2);
  sync_and_expect({{"a.json", 1, 1}, {"b.json", 2, 2}}, 3, dir_.path() + "/./logs", dir_ / "logs");
}

TEST_F(SyncTest, RootWithNothingButTheDatabaseKeepsTheCounter) {
  add("a.json", 1);
  sync_and_expect({{"a.json", 1, 1}}, 2);
  ASSERT_EQ(std::remove((dir_ / "a.json").c_str()), 0);
  sync_and_expect({}, 2);
  EXPECT_NE(testing::read_file(dir_ / ".config/vexlo-db.json").find("  \"files\": [],\n"), std::string::npos);
}

TEST_F(SyncTest, NamesThatAreNotUtf8KeepTheirIds) {
  add("bad\xff.json", 1);
  sync_and_expect({{"bad\xef\xbf\xbd.json", 1, 1}}, 2);
  sync_and_expect({{"bad\xef\xbf\xbd.json", 1, 1}}, 2);
}

// A log root that cannot be listed fails the scan; a subdirectory that
// cannot be listed is passed over, and the IDs below it are kept.
TEST_F(SyncTest, FailedScanLeavesEntriesCounterAndFileAlone) {
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0755), 0);
  if (const std::string why = testing::why_no_second_user(dir_.path()); !why.empty()) GTEST_SKIP() << why;
  add("a.json", 1);
  add("locked/b.json", 2);
  const std::string db_text = render_database(
      {{dir_ / "a.json", 5, 0}, {dir_ / "old.json", 6, 0}, {dir_ / "locked/b.json", 4, 0}}, 7, 123);
  const struct {
    const char* locked;
    mode_t mode;
    std::string result;
  } cases[] = {
      {"locked", 0000, "synced /a.json:5:1 /locked/b.json:4:0 next 7"},
      {"", 0333, "Permission denied (os error 13) /a.json:5:0 /old.json:6:0 /locked/b.json:4:0 next 7"},
  };
  for (const auto& c : cases) {
    testing::write_file(dir_ / ".config/vexlo-db.json", db_text);
    ASSERT_EQ(::chmod((dir_ / ".config/vexlo-db.json").c_str(), 0666), 0);
    ASSERT_EQ(::chmod((dir_ / ".config").c_str(), 0777), 0);
    ASSERT_EQ(::chmod((dir_ / c.locked).c_str(), c.mode), 0);
    std::string why;
    auto result = testing::run_unprivileged(
        [&] {
          auto db = Database::open(dir_.path());
          if (!db) return db.error().text;
          auto synced = db->sync(dir_.path());
          std::string summary = synced ? "synced" : synced.error().text;
          for (const auto& entry : db->files()) {
            summary += " " + entry.path.substr(dir_.path().size()) + ":" + std::to_string(entry.id) + ":" +
                       std::to_string(entry.timestamp);
          }
          return summary + " next " + std::to_string(db->next_file_id());
        },
        &why);
    ASSERT_EQ(::chmod((dir_ / c.locked).c_str(), 0755), 0);
    ASSERT_TRUE(result) << why;
    EXPECT_EQ(*result, c.result);
    if (c.mode != 0000) {
      EXPECT_EQ(testing::read_file(dir_ / ".config/vexlo-db.json"), db_text);
    }
  }
}

}  // namespace
}  // namespace vexlo
