// The promises an ID makes: no two files share one, 0 is none, an ID never
// passes from one path to another, not even through a damaged or
// hand-edited database file, and a file keeps its ID while it is there.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>

#include "testing/child_process.h"
#include "testing/machine.h"
#include "testing/temp_dir.h"
#include "vexlo/common/utf8.h"
#include "vexlo/db/database.h"
#include "vexlo/db/database_file.h"
#include "vexlo/os/file_lock.h"

namespace vexlo {
namespace {

constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();

std::string log_content(std::int64_t boot_timestamp) {
  return "{\"boot_timestamp\": " + std::to_string(boot_timestamp) + "}";
}

// "@" in a hand-written database text stands for the log root.
std::string with_root(std::string text, const std::string& root) {
  for (auto at = text.find('@'); at != std::string::npos; at = text.find('@', at + root.size())) {
    text.replace(at, 1, root);
  }
  return text;
}

TEST(IdRules, HandWrittenDatabaseFiles) {
  const std::string valid = R"({"files": [{"id": 4, "path": "@/a.json"}, {"id": 6, "path": "@/b.json"}],
                               "next_file_id": 8})";
  const struct {
    const char* name;
    std::string database;
    std::map<std::string, std::uint64_t> ids;  // a.json, b.json, c.json (times 10, 20, 30); 0: no entry
    std::uint64_t next_file_id;
    bool damaged;
  } cases[] = {
      {"the first holder keeps a duplicate ID, the later one is a new file",
       R"({"files": [{"id": 5, "path": "@/c.json"}, {"id": 5, "path": "@/a.json"}], "next_file_id": 9})",
       {{"a.json", 9}, {"b.json", 10}, {"c.json", 5}}, 11, false},
      {"a counter below the IDs held starts above them",
       R"({"files": [{"id": 5, "path": "@/a.json"}, {"id": 6, "path": "@/b.json"}], "next_file_id": 5})",
       {{"a.json", 5}, {"b.json", 6}, {"c.json", 7}}, 8, false},
      {"a missing counter starts above the IDs held", R"({"files": [{"id": 7, "path": "@/b.json"}]})",
       {{"a.json", 8}, {"b.json", 7}, {"c.json", 9}}, 10, false},
      {"counter 0 counts as 1", R"({"files": [], "next_file_id": 0})",
       {{"a.json", 1}, {"b.json", 2}, {"c.json", 3}}, 4, false},
      {"an entry with ID 0 is a file without an ID",
       R"({"files": [{"id": 0, "path": "@/a.json"}, {"id": 2, "path": "@/b.json"}], "next_file_id": 0})",
       {{"a.json", 3}, {"b.json", 2}, {"c.json", 4}}, 5, false},
      {"a path given twice keeps its first ID",
       R"({"files": [{"id": 3, "path": "@/a.json"}, {"id": 9, "path": "@/a.json"}], "next_file_id": 4})",
       {{"a.json", 3}, {"b.json", 10}, {"c.json", 11}}, 12, false},
      {"odd parts of a hand edit are left out, the rest loads",
       R"({"files": [7, {"id": 4, "path": "@/a.json"}, {"id": -1, "path": "@/b.json"}], "next_file_id": "9"})",
       {{"a.json", 4}, {"b.json", 5}, {"c.json", 6}}, 7, false},
      {"the largest ID is kept but the counter is used up",
       R"({"files": [{"id": 18446744073709551615, "path": "@/b.json"}], "next_file_id": 2})",
       {{"a.json", 0}, {"b.json", kLargest}, {"c.json", 0}}, kLargest, false},
      {"damaged: a stray byte after the value", valid + ",", {{"a.json", 8}, {"b.json", 9}, {"c.json", 10}}, 11, true},
      {"damaged: not UTF-8", valid.substr(0, valid.size() - 1) + ", \"x\": \"\xff\"}",
       {{"a.json", 8}, {"b.json", 9}, {"c.json", 10}}, 11, true},
      {"damaged: cut off before the counter", R"({"files": [{"id": 12, "path": "x"}, {"id" :  3)",
       {{"a.json", 13}, {"b.json", 14}, {"c.json", 15}}, 16, true},
      {"damaged: numbers that are no IDs are passed over",
       R"({"id": -40, "id": 1e9, "id": "77", "next_file_id": 99999999999999999999, "id": 2)",
       {{"a.json", 3}, {"b.json", 4}, {"c.json", 5}}, 6, true},
      {"damaged: an array", R"([{"id": 4, "path": "@/a.json"}])", {{"a.json", 5}, {"b.json", 6}, {"c.json", 7}}, 8,
       true},
      {"damaged: an object without files", R"({"next_file_id": 6})", {{"a.json", 6}, {"b.json", 7}, {"c.json", 8}},
       9, true},
      {"damaged: empty", "", {{"a.json", 1}, {"b.json", 2}, {"c.json", 3}}, 4, true},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    testing::write_file(dir / "a.json", log_content(10));
    testing::write_file(dir / "b.json", log_content(20));
    testing::write_file(dir / "c.json", log_content(30));
    const std::string database = with_root(c.database, dir.path());
    testing::write_file(dir / ".config/vexlo-db.json", database);

    auto db = Database::open(dir.path());
    ASSERT_TRUE(db) << c.name;
    ASSERT_TRUE(db->sync(dir.path())) << c.name;
    for (const auto& [name, id] : c.ids) {
      const FileEntry* entry = db->find_by_path(dir / name);
      EXPECT_EQ(entry ? entry->id : 0, id) << c.name << ": " << name;
    }
    EXPECT_EQ(db->find_by_id(0), nullptr) << c.name;
    EXPECT_EQ(db->next_file_id(), c.next_file_id) << c.name;

    // What was saved loads back the same, and a damaged file was kept whole.
    const DatabaseContent saved = load_database(testing::read_file(db->db_path())).content;
    std::vector<FileEntry> in_memory = db->files();
    for (auto& entry : in_memory) entry.timestamp = 0;  // times are not saved
    EXPECT_EQ(saved.files, in_memory) << c.name;
    EXPECT_EQ(saved.next_file_id, c.next_file_id) << c.name;
    std::vector<std::string> expected_names = {"vexlo-db.json", "vexlo-db.lock"};
    if (c.damaged) {
      expected_names.insert(expected_names.begin() + 1, "vexlo-db.json.damaged");
      EXPECT_EQ(db->kept_damaged_file(), db->db_path() + ".damaged") << c.name;
      EXPECT_EQ(testing::read_file(db->kept_damaged_file()), database) << c.name;
    } else {
      EXPECT_EQ(db->kept_damaged_file(), "") << c.name;
    }
    // Beside the log time cache, which a scan that found files writes.
    std::vector<std::string> names = testing::names_in(dir / ".config");
    std::erase(names, "vexlo-cache");
    EXPECT_EQ(names, expected_names) << c.name;
  }
}

TEST(IdRules, KeptDamagedFilesAreNumberedAndNeverReplaceOrFollowAnything) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / ".config/vexlo-db.json.damaged", "first");
  testing::write_file(dir / ".config/vexlo-db.json.damaged.1", "second");
  testing::write_file(dir / "elsewhere.txt", R"(not a database, "id": 41)");
  ASSERT_EQ(::symlink("../elsewhere.txt", (dir / ".config/vexlo-db.json").c_str()), 0);

  auto db = Database::open(dir.path());
  ASSERT_TRUE(db);
  // The link is never read through: what it points at may be any file of
  // the system, and none of its numbers must find their way into the
  // database.
  EXPECT_EQ(db->next_file_id(), 1u);
  ASSERT_TRUE(db->sync(dir.path()));
  EXPECT_EQ(db->kept_damaged_file(), dir / ".config/vexlo-db.json.damaged.2");
  // The link itself is kept; what it points at is neither moved nor changed.
  struct stat kept;
  ASSERT_EQ(::lstat(db->kept_damaged_file().c_str(), &kept), 0);
  EXPECT_TRUE(S_ISLNK(kept.st_mode));
  EXPECT_EQ(testing::read_file(dir / "elsewhere.txt"), R"(not a database, "id": 41)");
  EXPECT_EQ(testing::read_file(dir / ".config/vexlo-db.json.damaged"), "first");
  EXPECT_EQ(testing::read_file(dir / ".config/vexlo-db.json.damaged.1"), "second");
  struct stat saved;
  ASSERT_EQ(::lstat(db->db_path().c_str(), &saved), 0);
  EXPECT_TRUE(S_ISREG(saved.st_mode));

  // The next run finds a good database: nothing more is kept.
  auto next = Database::open(dir.path());
  ASSERT_TRUE(next);
  ASSERT_TRUE(next->sync(dir.path()));
  EXPECT_EQ(next->kept_damaged_file(), "");
  EXPECT_EQ(testing::names_in(dir / ".config").size(), 5u);  // with the lock file
}

TEST(IdRules, DamagedFileThatCannotBeKeptIsNotReplaced) {
  // A ".config" that is not writable while the database file is: the
  // damaged file cannot be kept, so it must not be rewritten in place.
  testing::ScopedTempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  testing::write_file(dir / "a.json", log_content(10));
  if (const std::string why = testing::why_no_second_user(dir.path()); !why.empty()) GTEST_SKIP() << why;
  testing::write_file(dir / ".config/vexlo-db.json", "{\"files\": [{\"id\": 3,");
  ASSERT_EQ(::chmod((dir / ".config/vexlo-db.json").c_str(), 0666), 0);
  ASSERT_EQ(::chmod((dir / ".config").c_str(), 0555), 0);
  std::string why;
  auto result = testing::run_unprivileged(
      [&] {
        auto db = Database::open(dir.path());
        if (!db) return db.error().text;
        auto synced = db->sync(dir.path());
        return (synced ? std::string("saved") : synced.error().text) + " kept '" + db->kept_damaged_file() + "'";
      },
      &why);
  ASSERT_TRUE(result) << why;
  EXPECT_EQ(*result, "Permission denied (os error 13) kept ''");
  EXPECT_EQ(testing::read_file(dir / ".config/vexlo-db.json"), "{\"files\": [{\"id\": 3,");
}

// Random sequences of runs over a small tree in which files appear (some
// with names that read alike), vanish, are cut off and restored, and the
// database file is damaged (in ways that leave its numbers legible) or
// edited by hand; runs name the tree in several ways, and some cannot save.
class RandomRuns {
 public:
  explicit RandomRuns(unsigned seed) : random_(seed) {
    ::chmod(dir_.path().c_str(), 0755);
    ::symlink(dir_.path().c_str(), (links_ / "root").c_str());
  }

  void step() {
    const std::string& name = kNames[pick(std::size(kNames))];
    switch (pick(11)) {
      case 0:
      case 1:
        testing::write_file(dir_ / name, log_content(static_cast<std::int64_t>(pick(50))));
        history_ += " write " + name;
        break;
      case 2:
        if (std::remove((dir_ / name).c_str()) == 0) expected_.erase(to_utf8_lossy(name));
        history_ += " remove " + name;
        break;
      case 3:
        if (::access((dir_ / name).c_str(), F_OK) == 0) testing::write_file(dir_ / name, pick(2) ? "{\"boot" : "");
        history_ += " damage " + name;
        break;
      case 4:
        damage_database();
        break;
      case 5:
        edit_database();
        break;
      case 6:
      case 7:
        run(static_cast<int>(pick(4)));
        break;
      default:
        run();
    }
  }

  // What happened so far, for the message of a failure.
  const std::string& history() const { return history_; }

  // One run, which another run's lock (obstacle 1), failing writes (2) or a
  // database file it may not read (3) keep from saving. What it shows is
  // what the listing and show answer with.
  void run(int obstacle = 0) {
    const std::string root = spelling();
    bool saved = false;
    const std::vector<FileEntry> files = obstacle == 3 ? run_unprivileged() : run_here(root, obstacle, saved);
    ++runs_;
    history_ += " run" + std::to_string(obstacle) + " " + root + ";";
    std::set<std::uint64_t> live_ids;
    std::set<std::string> live_paths;
    for (const auto& entry : files) {
      const std::string path = below_root(entry.path.str());
      ASSERT_NE(entry.id, 0u) << path;
      EXPECT_TRUE(live_ids.insert(entry.id).second) << "two files on ID " << entry.id;
      live_paths.insert(path);
      const auto [owner, is_new] = owner_of_id_.emplace(entry.id, path);
      EXPECT_EQ(owner->second, path) << "ID " << entry.id << " moved";
      // A file that stayed keeps its ID, readable or not, unless the
      // database was damaged or edited since.
      const auto [expected, first_seen] = expected_.emplace(path, entry.id);
      EXPECT_EQ(expected->second, entry.id) << path << " changed its ID";
      if (first_seen && !saved) expected_.erase(path);
    }
    for (const auto& [path, id] : saved ? expected_ : std::map<std::string, std::uint64_t>{}) {
      EXPECT_TRUE(live_paths.contains(path)) << path << " is there but lost its ID " << id;
    }
  }

  std::vector<FileEntry> run_here(const std::string& root, int obstacle, bool& saved) {
    std::optional<os::FileLock> holder;
    auto config = os::Directory::open(dir_ / ".config");
    if (config && obstacle == 1) holder = os::FileLock::acquire(*config, "vexlo-db.lock", {}).value();
    struct rlimit limit {};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const struct rlimit tiny = {obstacle == 2 ? 8 : limit.rlim_cur, limit.rlim_max};
    ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &tiny);
    OpenOptions options;
    options.lock_wait.limit = std::chrono::milliseconds(10);
    auto db = Database::open(root, options);
    saved = db && db->sync(root);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_TRUE(saved || obstacle != 0);
    return db ? db->files() : std::vector<FileEntry>{};
  }

  std::vector<FileEntry> run_unprivileged() {
    std::vector<FileEntry> files;
    if (::access(db_path().c_str(), F_OK) != 0 || !testing::why_no_second_user(dir_.path()).empty()) return files;
    // All but the database file is open to the other user, so that only
    // the unreadable file keeps the run from saving.
    ::chmod(db_path().c_str(), 0000);
    ::chmod((dir_ / ".config").c_str(), 0777);
    ::chmod((dir_ / ".config/vexlo-db.lock").c_str(), 0666);
    std::string why;
    const auto shown = testing::run_unprivileged(
        [&] {
          auto db = Database::open(dir_.path());
          std::string text = db && db->sync(dir_.path()) ? "saved" : "";
          for (const auto& entry : db ? db->files() : files) text += "\n" + std::to_string(entry.id) + " " + entry.path.str();
          return text;
        },
        &why);
    ::chmod(db_path().c_str(), 0644);
    ::chmod((dir_ / ".config").c_str(), 0755);
    EXPECT_EQ(shown.value_or("saved").find("saved"), std::string::npos) << why;
    std::istringstream lines(shown.value_or(""));
    std::uint64_t id = 0;
    for (std::string path; lines >> id && std::getline(lines >> std::ws, path);) files.push_back({path, id, 0});
    return files;
  }

  int runs() const { return runs_; }

 private:
  static constexpr const char* kNames[] = {"a.json", "b.json",      "sub/c.json",  "sub/d.json",
                                           "e.json", "x-\xff.json", "x-\xfe.json", "x-\xef\xbf\xbd.json"};

  // The log root as this run names it.
  std::string spelling() {
    const std::string spellings[] = {dir_.path(), dir_.path() + "/", dir_.path() + "/.", links_ / "root"};
    return spellings[pick(std::size(spellings))];
  }

  // A path of any spelling as the file's path below the log root.
  std::string below_root(const std::string& path) const {
    for (const std::string& root : {dir_.path() + "/./", dir_.path() + "/", links_ / "root/"}) {
      if (path.starts_with(root)) return path.substr(root.size());
    }
    return path;
  }

  std::size_t pick(std::size_t count) { return std::uniform_int_distribution<std::size_t>(0, count - 1)(random_); }

  std::string db_path() const { return dir_ / ".config/vexlo-db.json"; }

  void damage_database() {
    if (::access(db_path().c_str(), F_OK) != 0) return;
    std::string text = testing::read_file(db_path());
    switch (pick(3)) {
      case 0:
        text += ",";
        break;
      case 1:
        text.insert(0, "\xff");
        break;
      default:
        text.insert(text.find('\n') == std::string::npos ? 0 : text.find('\n'), "{{");
    }
    testing::write_file(db_path(), text);
    history_ += " damage-db";
    expected_.clear();  // a damaged database renumbers every file
  }

  // Edits that leave a record of every ID handed out, in an entry or in
  // the counter: the counter goes below the highest ID held only while no
  // higher ID was ever given, and an ID is taken from an entry only while
  // the counter lies above it. (A file emptied by hand, or a counter that
  // forgets the IDs of files that are gone, could give those IDs again:
  // nothing remembers them.)
  void edit_database() {
    if (::access(db_path().c_str(), F_OK) != 0) return;
    // A damaged file is left as it is: an edit would start from nothing.
    LoadedDatabase loaded = load_database(testing::read_file(db_path()));
    if (loaded.damaged) return;
    DatabaseContent& content = loaded.content;
    std::uint64_t highest = 0;
    for (const auto& entry : content.files) highest = std::max(highest, entry.id);
    const bool counter_may_drop = content.next_file_id == highest + 1;
    const std::size_t edit = pick(4);
    history_ += " edit-db-" + std::to_string(edit);
    switch (edit) {
      case 0:
        if (!counter_may_drop) return;
        content.next_file_id = pick(3);
        break;
      case 1:
        // The counter still remembers the ID taken away.
        if (!content.files.empty()) {
          FileEntry& entry = content.files[pick(content.files.size())];
          if (content.next_file_id <= entry.id) return;
          expected_.erase(below_root(entry.path.str()));
          entry.id = 0;
        }
        break;
      case 2:
        // A file the database does not know, written down after the
        // others with an ID that is taken.
        if (!content.files.empty()) {
          const std::string first = content.files.front().path.str();
          const std::string name = kNames[pick(std::size(kNames))];
          const std::string path = first.substr(0, first.size() - below_root(first).size()) + to_utf8_lossy(name);
          const auto known = [&](const FileEntry& entry) { return entry.path == path; };
          if (std::any_of(content.files.begin(), content.files.end(), known)) return;
          testing::write_file(dir_ / name, log_content(static_cast<std::int64_t>(pick(50))));
          content.files.push_back({path, content.files[pick(content.files.size())].id, 0});
        }
        break;
      default: {
        if (!counter_may_drop) return;
        // The counter left out altogether.
        std::string edited = render_database(content.files, content.next_file_id, 0);
        const std::string member = ",\n  \"next_file_id\": " + std::to_string(content.next_file_id);
        edited.erase(edited.find(member), member.size());
        testing::write_file(db_path(), edited);
        return;
      }
    }
    testing::write_file(db_path(), render_database(content.files, content.next_file_id, 0));
  }

  testing::ScopedTempDir dir_;
  testing::ScopedTempDir links_;  // "root", a link to dir_
  std::mt19937 random_;
  std::map<std::uint64_t, std::string> owner_of_id_;  // every ID ever seen, and its path
  std::map<std::string, std::uint64_t> expected_;     // the ID each path must still have
  int runs_ = 0;
  std::string history_;
};

TEST(IdRules, RandomRunsNeverShareOrMoveAnId) {
  int runs = 0;
  for (unsigned seed = 1; seed <= 12; ++seed) {
    RandomRuns sequence(seed);
    for (int i = 0; i < 40 && !::testing::Test::HasFailure(); ++i) sequence.step();
    sequence.run();
    runs += sequence.runs();
    ASSERT_FALSE(::testing::Test::HasFailure()) << "seed " << seed << ":" << sequence.history();
  }
  EXPECT_GT(runs, 100);
}

}  // namespace
}  // namespace vexlo
