#include "vexlo/db/database.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "testing/child_process.h"
#include "testing/machine.h"
#include "testing/temp_dir.h"
#include "vexlo/db/database_file.h"
#include "vexlo/os/file_lock.h"
#include "vexlo/os/file_system.h"

namespace vexlo {
namespace {

using namespace std::chrono_literals;

std::string log_content(std::int64_t boot_timestamp) {
  return "{\"boot_timestamp\": " + std::to_string(boot_timestamp) + "}";
}

TEST(DatabaseOpen, NewDatabaseIsEmptyAndTheFirstSaveCreatesTheFile) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "missing/logs";
  auto db = Database::open(root);
  ASSERT_TRUE(db) << db.error().text;
  EXPECT_TRUE(db->files().empty());
  EXPECT_EQ(db->next_file_id(), 1u);
  EXPECT_EQ(db->db_path(), root + "/.config/vexlo-db.json");
  EXPECT_EQ(testing::names_in(root + "/.config"), std::vector<std::string>{"vexlo-db.lock"});

  const std::int64_t before = os::now_seconds();
  ASSERT_TRUE(db->save());
  const std::string saved = testing::read_file(db->db_path());
  const std::string expected = render_database({}, 1, before);
  EXPECT_TRUE(saved == expected || saved == render_database({}, 1, before + 1)) << saved;
  EXPECT_EQ(testing::names_in(root + "/.config"), (std::vector<std::string>{"vexlo-db.json", "vexlo-db.lock"}));
}

TEST(DatabaseOpen, DatabasePathFollowsTheLogRootAsSpelled) {
  const struct {
    const char* log_root;
    const char* db_path;
  } cases[] = {
      {"logs", "logs/.config/vexlo-db.json"},
      {"logs/", "logs/.config/vexlo-db.json"},
      {"./logs//", "./logs//.config/vexlo-db.json"},
      {"", ".config/vexlo-db.json"},
  };
  testing::ScopedTempDir dir;
  for (const auto& c : cases) {
    // Relative roots resolve against the working directory, which only a
    // child process may change.
    std::string why;
    auto result = testing::run_in_child(
        [&] {
          if (::chdir(dir.path().c_str()) != 0) return std::string("chdir failed");
          auto db = Database::open(c.log_root);
          if (!db) return db.error().text;
          auto saved = db->save();
          return db->db_path() + (saved ? "" : " " + saved.error().text);
        },
        false, &why);
    ASSERT_TRUE(result) << why;
    EXPECT_EQ(*result, c.db_path) << c.log_root;
    EXPECT_NO_THROW(testing::read_file(dir / c.db_path)) << c.db_path;
  }
}

TEST(DatabaseOpen, FailsWhenTheDatabaseDirectoryCannotBeCreated) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "plain", "x");
  testing::write_file(dir / "root/.config", "x");
  const struct {
    std::string log_root;
    std::string text;
  } cases[] = {
      {dir / "plain", "Not a directory (os error 20)"},
      {dir / "plain/below", "Not a directory (os error 20)"},
      {dir / "root", "File exists (os error 17)"},
  };
  for (const auto& c : cases) {
    auto db = Database::open(c.log_root);
    ASSERT_FALSE(db) << c.log_root;
    EXPECT_EQ(db.error().text, c.text) << c.log_root;
  }
}

TEST(DatabaseOpen, UnusableDatabaseFilesLoadAsEmpty) {
  // The counter starts above the IDs still legible in the damaged text.
  const struct {
    const char* name;
    std::string content;
    std::uint64_t next_file_id;
  } cases[] = {
      {"empty", "", 1},
      {"invalid UTF-8", "{\"files\": [{\"id\": 1, \"path\": \"a\xff\"}], \"next_file_id\": 5}", 5},
      {"malformed", "{\"files\": [{\"id\": 1,", 2},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    testing::write_file(dir / ".config/vexlo-db.json", c.content);
    auto db = Database::open(dir.path());
    ASSERT_TRUE(db) << c.name;
    EXPECT_TRUE(db->files().empty()) << c.name;
    EXPECT_EQ(db->next_file_id(), c.next_file_id) << c.name;
  }
  testing::ScopedTempDir fifo_dir;
  testing::make_dirs(fifo_dir / ".config");
  ASSERT_EQ(::mkfifo((fifo_dir / ".config/vexlo-db.json").c_str(), 0644), 0);
  auto db = Database::open(fifo_dir.path());
  ASSERT_TRUE(db);
  EXPECT_TRUE(db->files().empty());
  // A link is never followed, even to a sound database.
  testing::ScopedTempDir planted;
  testing::write_file(planted / "elsewhere.json", R"({"files": [{"id": 3, "path": "a"}], "next_file_id": 7})");
  testing::make_dirs(planted / "link/.config");
  ASSERT_EQ(::symlink((planted / "elsewhere.json").c_str(), (planted / "link/.config/vexlo-db.json").c_str()), 0);
  auto loaded = Database::open(planted / "link");
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(loaded->files().empty());
  EXPECT_EQ(loaded->next_file_id(), 1u);
}

TEST(DatabaseSave, DirectoryInPlaceOfTheFileFailsAndTakesBackTheNewIds) {
  testing::ScopedTempDir dir;
  testing::make_dirs(dir / ".config/vexlo-db.json");
  testing::write_file(dir / "a.json", log_content(10));
  auto db = Database::open(dir.path());
  ASSERT_TRUE(db);
  EXPECT_TRUE(db->files().empty());
  auto synced = db->sync(dir.path());
  ASSERT_FALSE(synced);
  EXPECT_EQ(synced.error().text, "Is a directory (os error 21)");
  EXPECT_TRUE(db->files().empty());
  EXPECT_EQ(db->next_file_id(), 1u);
  // No temporary file is left; the log time cache is saved all the same.
  EXPECT_EQ(testing::names_in(dir / ".config"), (std::vector<std::string>{"vexlo-cache", "vexlo-db.json", "vexlo-db.lock"}));
}

TEST(DatabaseSave, RemovesTemporaryFilesLeftByKilledRuns) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / ".config/vexlo-db.json.tmp.4242.0", "{\n  \"files\": [");
  testing::write_file(dir / ".config/vexlo-db.json.tmp.17.3", "");
  testing::write_file(dir / ".config/notes.txt", "kept");
  auto db = Database::open(dir.path());
  ASSERT_TRUE(db);
  ASSERT_TRUE(db->sync(dir.path()));
  EXPECT_EQ(testing::names_in(dir / ".config"), (std::vector<std::string>{"notes.txt", "vexlo-db.json", "vexlo-db.lock"}));
}

TEST(DatabaseLookup, FirstMatchWins) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / ".config/vexlo-db.json",
                      R"({"files": [{"id": 4, "path": "a"}, {"id": 4, "path": "b"}, {"id": 5, "path": "a"},
                                    {"id": 6, "path": "a\u0000b"}], "next_file_id": 7})");
  auto db = Database::open(dir.path());
  ASSERT_TRUE(db);
  const struct {
    std::uint64_t id;
    std::optional<std::string> path;
  } by_id[] = {{4, "a"}, {5, "a"}, {6, std::string("a\0b", 3)}, {7, std::nullopt}, {0, std::nullopt}};
  for (const auto& c : by_id) {
    const FileEntry* found = db->find_by_id(c.id);
    EXPECT_EQ(found ? std::optional(found->path) : std::nullopt, c.path) << c.id;
  }
  const struct {
    std::string path;
    std::uint64_t id;  // 0: none
  } by_path[] = {{"a", 4}, {"b", 4}, {std::string("a\0b", 3), 6}, {std::string("a\0", 2), 0}, {"A", 0}, {"", 0}};
  for (const auto& c : by_path) {
    const FileEntry* found = db->find_by_path(c.path);
    EXPECT_EQ(found ? found->id : 0, c.id) << c.path;
  }
  EXPECT_EQ(db->find_by_path("b"), &db->files()[1]);
  // Paths asked in turn are found where the last one was only while every
  // one so far was: once "b" is out of turn, the "a" after it is not the
  // first.
  Database::PathsInTurn in_turn(*db);
  EXPECT_EQ(in_turn.find("a"), &db->files()[0]);
  EXPECT_EQ(in_turn.find("b"), &db->files()[1]);
  Database::PathsInTurn out_of_turn(*db);
  EXPECT_EQ(out_of_turn.find("b"), &db->files()[1]);
  EXPECT_EQ(out_of_turn.find("a"), &db->files()[0]);
  // The index follows the database when it is moved.
  Database moved = std::move(*db);
  EXPECT_EQ(moved.find_by_path("b"), &moved.files()[1]);
}

TEST(DatabaseLock, SecondRunWaitsAndLoadsWhatTheFirstSaved) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "a.json", log_content(10));
  auto first = Database::open(dir.path());
  ASSERT_TRUE(first);

  std::atomic<bool> second_opened{false};
  std::vector<FileEntry> second_files;
  std::thread second([&] {
    auto db = Database::open(dir.path());
    second_opened = true;
    if (db) second_files = db->files();
  });
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(second_opened) << "the second run loaded while the first had not saved";
  ASSERT_TRUE(first->sync(dir.path()));
  second.join();
  EXPECT_EQ(second_files, (std::vector<FileEntry>{{dir / "a.json", 1, 0}}));
}

// Another holder of the lock (a stopped run, or anyone who could open the
// lock file) costs a run the wait limit at most; the run then works on what
// it loaded and saves nothing.
TEST(DatabaseLock, ForeignHolderCostsAtMostTheLimitAndNothingIsSaved) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "a.json", log_content(10));
  testing::write_file(dir / ".config/vexlo-db.json", R"({"files": [], "next_file_id": 7})");
  auto holder_directory = os::Directory::open(dir / ".config");
  ASSERT_TRUE(holder_directory);
  auto holder = os::FileLock::acquire(*holder_directory, "vexlo-db.lock", {});
  ASSERT_TRUE(holder);

  int notices = 0;
  OpenOptions options;
  options.lock_wait = {.limit = 400ms, .notice_after = 100ms, .on_long_wait = [&] { ++notices; }};
  const auto started = std::chrono::steady_clock::now();
  auto db = Database::open(dir.path(), options);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  ASSERT_TRUE(db);
  EXPECT_EQ(notices, 1);
  auto synced = db->sync(dir.path());
  ASSERT_FALSE(synced);
  EXPECT_EQ(synced.error().text, "another vexlo run kept the database locked for 0 s; nothing is saved");
  EXPECT_TRUE(db->files().empty());
  EXPECT_EQ(db->next_file_id(), 7u);
  EXPECT_EQ(testing::read_file(dir / ".config/vexlo-db.json"), R"({"files": [], "next_file_id": 7})");
}

// A ".config" that is a link is never written through, whatever it points
// to.
TEST(DatabaseOpen, ConfigDirectoryThatIsALinkIsRefused) {
  testing::ScopedTempDir dir;
  testing::make_dirs(dir / "elsewhere");
  testing::write_file(dir / "elsewhere/vexlo-db.json.tmp.1.0", "someone else's");
  testing::make_dirs(dir / "logs");
  ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "logs/.config").c_str()), 0);
  auto db = Database::open(dir / "logs");
  ASSERT_FALSE(db);
  EXPECT_EQ(db.error().text, "Too many levels of symbolic links (os error 40)");
  EXPECT_EQ(testing::names_in(dir / "elsewhere"), std::vector<std::string>{"vexlo-db.json.tmp.1.0"});
}

TEST(DatabasePermissions, ConfigDirectoryNotWritable) {
  testing::ScopedTempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  if (const std::string why = testing::why_no_second_user(dir.path()); !why.empty()) GTEST_SKIP() << why;
  testing::write_file(dir / "a.json", log_content(10));
  testing::make_dirs(dir / ".config");
  ASSERT_EQ(::chmod((dir / ".config").c_str(), 0555), 0);
  const auto sync_once = [&] {
    auto db = Database::open(dir.path());
    if (!db) return "open: " + db.error().text;
    auto synced = db->sync(dir.path());
    std::string result = synced ? "saved" : synced.error().text;
    for (const auto& entry : db->files()) result += " " + std::to_string(entry.id);
    return result;
  };

  // No database file yet: nothing can be created, and the IDs not saved
  // are taken back.
  std::string why;
  auto without_file = testing::run_unprivileged(sync_once, &why);
  ASSERT_TRUE(without_file) << why;
  EXPECT_EQ(*without_file, "Permission denied (os error 13)");
  EXPECT_TRUE(testing::names_in(dir / ".config").empty());

  // A writable database file is never rewritten in place (a run killed
  // meanwhile would leave it cut short): the save fails and the file stays.
  ASSERT_EQ(::chmod((dir / ".config").c_str(), 0755), 0);
  testing::write_file(dir / ".config/vexlo-db.json", R"({"files": [], "next_file_id": 7})");
  ASSERT_EQ(::chmod((dir / ".config/vexlo-db.json").c_str(), 0666), 0);
  testing::write_file(dir / ".config/vexlo-db.lock", "");
  ASSERT_EQ(::chmod((dir / ".config/vexlo-db.lock").c_str(), 0666), 0);
  ASSERT_EQ(::chmod((dir / ".config").c_str(), 0555), 0);
  auto with_file = testing::run_unprivileged(sync_once, &why);
  ASSERT_TRUE(with_file) << why;
  EXPECT_EQ(*with_file, "Permission denied (os error 13)");
  EXPECT_EQ(load_database(testing::read_file(dir / ".config/vexlo-db.json")).content.next_file_id, 7u);
  EXPECT_EQ(testing::names_in(dir / ".config"), (std::vector<std::string>{"vexlo-db.json", "vexlo-db.lock"}));
}

TEST(DatabasePermissions, UnreadableDatabaseFileLoadsAsEmpty) {
  testing::ScopedTempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  if (const std::string why = testing::why_no_second_user(dir.path()); !why.empty()) GTEST_SKIP() << why;
  testing::write_file(dir / ".config/vexlo-db.json", R"({"files": [{"id": 3, "path": "a"}], "next_file_id": 7})");
  ASSERT_EQ(::chmod((dir / ".config/vexlo-db.json").c_str(), 0000), 0);
  std::string why;
  auto loaded = testing::run_unprivileged(
      [&] {
        auto db = Database::open(dir.path());
        if (!db) return db.error().text;
        return std::to_string(db->files().size()) + " " + std::to_string(db->next_file_id());
      },
      &why);
  ASSERT_TRUE(loaded) << why;
  EXPECT_EQ(*loaded, "0 1");

  // A database directory that may be searched but not read or written: no
  // lock, nothing loaded, nothing saved, and the run goes on.
  ASSERT_EQ(::chmod((dir / ".config").c_str(), 0711), 0);
  auto synced = testing::run_unprivileged(
      [&] {
        auto db = Database::open(dir.path());
        if (!db) return "open: " + db.error().text;
        auto saved = db->sync(dir.path());
        return std::to_string(db->next_file_id()) + " " + (saved ? "saved" : saved.error().text);
      },
      &why);
  ASSERT_TRUE(synced) << why;
  EXPECT_EQ(*synced, "1 Permission denied (os error 13)");
}

}  // namespace
}  // namespace vexlo
