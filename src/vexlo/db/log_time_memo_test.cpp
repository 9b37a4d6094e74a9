#include "vexlo/db/log_time_memo.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "testing/temp_dir.h"
#include "vexlo/db/database.h"

namespace vexlo {
namespace {

// Answers log_time from a table and counts how often each path is read.
class CountingSource : public ScanSource {
 public:
  std::map<std::string, std::optional<std::int64_t>> times;
  std::map<std::string, int> reads;

  Result<os::FileStatus> status(const std::string&) override { return os::FileStatus{}; }
  Result<std::vector<std::string>> list(const std::string&) override { return std::vector<std::string>{}; }
  std::optional<std::int64_t> log_time(const std::string& path, const os::FileStatus&) override {
    ++reads[path];
    return times[path];
  }
};

os::FileStatus some_status() {
  os::FileStatus status;
  status.type = os::FileType::Regular;
  status.device = 2049;
  status.inode = 77;
  status.size = 120;
  status.modified = 1700000000;
  status.modified_nsec = 500;
  status.changed = 1700000001;
  status.changed_nsec = 600;
  return status;
}

// One scan through the memo, asking for the times of `paths` in order.
std::vector<std::optional<std::int64_t>> scan_times(CountingSource& inner, LogTimeMemo& memo,
                                                    const std::vector<std::string>& paths,
                                                    const os::FileStatus& status) {
  MemoizedScanSource source(inner, memo);
  std::vector<std::optional<std::int64_t>> times;
  for (const auto& path : paths) times.push_back(source.log_time(path, status));
  return times;
}

TEST(MemoizedScanSource, ReadsAgainOnlyWhenTheFileChanged) {
  const struct {
    const char* change;
    std::function<void(os::FileStatus&)> apply;
    int reads;
  } cases[] = {
      {"nothing", [](os::FileStatus&) {}, 1},
      {"device", [](os::FileStatus& s) { s.device = 2050; }, 2},
      {"inode", [](os::FileStatus& s) { s.inode = 78; }, 2},
      {"size", [](os::FileStatus& s) { s.size = 121; }, 2},
      {"modification seconds", [](os::FileStatus& s) { s.modified = 1700000002; }, 2},
      {"modification nanoseconds", [](os::FileStatus& s) { s.modified_nsec = 501; }, 2},
      {"modification time gone", [](os::FileStatus& s) { s.modified.reset(); }, 2},
      {"change seconds", [](os::FileStatus& s) { s.changed = 1700000003; }, 2},
      {"change nanoseconds", [](os::FileStatus& s) { s.changed_nsec = 601; }, 2},
  };
  const std::vector<std::string> paths = {"/logs/a.json", "/logs/b.json", "/logs/c.json"};
  for (const auto& c : cases) {
    CountingSource inner;
    inner.times = {{"/logs/a.json", 10}, {"/logs/b.json", 42}, {"/logs/c.json", 30}};
    LogTimeMemo memo;
    os::FileStatus status = some_status();
    os::FileStatus changed = status;
    c.apply(changed);
    EXPECT_EQ(scan_times(inner, memo, paths, status), (std::vector<std::optional<std::int64_t>>{10, 42, 30}));
    inner.times["/logs/b.json"] = 43;
    const std::optional<std::int64_t> expected = c.reads == 1 ? 42 : 43;
    // Only b changes; the scans meet the files in another order as well.
    for (const auto& order : {paths, std::vector<std::string>{"/logs/c.json", "/logs/b.json", "/logs/a.json"}}) {
      MemoizedScanSource source(inner, memo);
      for (const auto& path : order) {
        EXPECT_EQ(source.log_time(path, path == "/logs/b.json" ? changed : status),
                  path == "/logs/b.json" ? expected : inner.times[path])
            << c.change << " " << path;
      }
    }
    EXPECT_EQ(inner.reads, (std::map<std::string, int>{{"/logs/a.json", 1}, {"/logs/b.json", c.reads},
                                                       {"/logs/c.json", 1}}))
        << c.change;
    EXPECT_EQ(memo.size(), 3u) << c.change;
  }
}

TEST(MemoizedScanSource, RemembersFilesThatAreNoLogFilesAndKeepsPathsApart) {
  CountingSource inner;
  inner.times["/logs/partial.json"] = std::nullopt;
  inner.times["/logs/a.json"] = 1;
  inner.times["/logs/link.json"] = 2;
  LogTimeMemo memo;
  const os::FileStatus status = some_status();
  // Another path to the same file is keyed apart.
  const std::vector<std::string> paths = {"/logs/partial.json", "/logs/a.json", "/logs/link.json"};
  for (int scan = 0; scan < 2; ++scan) {
    EXPECT_EQ(scan_times(inner, memo, paths, status), (std::vector<std::optional<std::int64_t>>{std::nullopt, 1, 2}));
  }
  EXPECT_EQ(inner.reads, (std::map<std::string, int>{{"/logs/a.json", 1}, {"/logs/link.json", 1},
                                                     {"/logs/partial.json", 1}}));
}

TEST(MemoizedScanSource, FilesAddedRemovedAndReorderedBetweenScans) {
  CountingSource inner;
  for (const char* path : {"/a", "/b", "/c", "/d", "/e"}) inner.times[path] = path[1];
  LogTimeMemo memo;
  const os::FileStatus status = some_status();
  const std::vector<std::vector<std::string>> scans = {
      {"/a", "/b", "/c"},
      {"/d", "/a", "/c"},        // one new before the known ones, one gone
      {"/c", "/b", "/e", "/a"},  // the order turned round, the one gone is back
      {"/a", "/b", "/c", "/d", "/e"},
  };
  for (const auto& paths : scans) {
    std::vector<std::optional<std::int64_t>> expected;
    for (const auto& path : paths) expected.push_back(path[1]);
    EXPECT_EQ(scan_times(inner, memo, paths, status), expected);
  }
  EXPECT_EQ(inner.reads, (std::map<std::string, int>{{"/a", 1}, {"/b", 1}, {"/c", 1}, {"/d", 1}, {"/e", 1}}));
  EXPECT_EQ(memo.size(), 5u);
}

// The real file system, counting the reads that reach it.
class CountingSystemSource : public SystemScanSource {
 public:
  int reads = 0;
  std::optional<std::int64_t> log_time(const std::string& path, const os::FileStatus& status) override {
    ++reads;
    return SystemScanSource::log_time(path, status);
  }
};

std::vector<FileEntry> scan_counting(const std::string& root, LogTimeMemo& memo, int& reads) {
  CountingSystemSource system;
  MemoizedScanSource source(system, memo);
  std::vector<FileEntry> entries;
  EXPECT_TRUE(scan_log_files(root, entries, source));
  reads = system.reads;
  return entries;
}

std::int64_t time_of(const std::vector<FileEntry>& entries, const std::string& path) {
  for (const auto& entry : entries) {
    if (entry.path == path) return entry.timestamp;
  }
  ADD_FAILURE() << path << " not scanned";
  return 0;
}

// Rewrites a file with content of the same size and gives it back its old
// modification time, so that only its change time tells.
void rewrite_keeping_size_and_mtime(const std::string& path, std::string_view content) {
  struct stat before;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  for (;;) {
    testing::write_file(path, content);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    struct stat after;
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    ASSERT_EQ(after.st_size, before.st_size);
    // A coarse clock may give the same change time again; wait it out.
    if (after.st_ctim.tv_sec != before.st_ctim.tv_sec || after.st_ctim.tv_nsec != before.st_ctim.tv_nsec) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

TEST(LogTimeMemoOnDisk, SecondScanReadsOnlyChangedFiles) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "logs";
  testing::write_file(root + "/same.json", R"({"boot_timestamp": 100})");
  testing::write_file(root + "/grown.json", R"({"boot_timestamp": 200})");
  testing::write_file(root + "/rewritten.json", R"({"boot_timestamp": 300})");
  testing::write_file(root + "/sub/replaced.json", R"({"boot_timestamp": 400})");
  testing::write_file(root + "/broken.json", R"({"boot_timestamp": )");

  LogTimeMemo memo;
  int reads = 0;
  auto first = scan_counting(root, memo, reads);
  EXPECT_EQ(reads, 5);
  EXPECT_EQ(first.size(), 4u);

  reads = 0;
  scan_counting(root, memo, reads);
  EXPECT_EQ(reads, 0) << "nothing changed";

  testing::write_file(root + "/grown.json", R"({"boot_timestamp": 2000})");
  rewrite_keeping_size_and_mtime(root + "/rewritten.json", R"({"boot_timestamp": 301})");
  // A new file at the old path: another inode.
  ASSERT_EQ(::rename((root + "/sub/replaced.json").c_str(), (root + "/old.txt").c_str()), 0);
  testing::write_file(root + "/sub/replaced.json", R"({"boot_timestamp": 401})");
  auto third = scan_counting(root, memo, reads);
  EXPECT_EQ(reads, 3);
  EXPECT_EQ(time_of(third, root + "/same.json"), 100);
  EXPECT_EQ(time_of(third, root + "/grown.json"), 2000);
  EXPECT_EQ(time_of(third, root + "/rewritten.json"), 301);
  EXPECT_EQ(time_of(third, root + "/sub/replaced.json"), 401);
  EXPECT_EQ(third.size(), 4u) << "the broken file stays out without being read again";
}

TEST(DatabaseScan, SeesWhatChangedSinceTheSynchronisation) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "logs";
  testing::write_file(root + "/a.json", R"({"boot_timestamp": 10})");
  testing::write_file(root + "/b.json", R"({"boot_timestamp": 20})");
  auto db = Database::open(root);
  ASSERT_TRUE(db) << db.error().text;
  ASSERT_TRUE(db->sync(root));

  std::vector<FileEntry> unchanged;
  ASSERT_TRUE(db->scan(root, unchanged));
  std::vector<FileEntry> fresh;
  ASSERT_TRUE(scan_log_files(root, fresh));
  EXPECT_EQ(unchanged, fresh);

  testing::write_file(root + "/a.json", R"({"boot_timestamp": 300})");
  testing::write_file(root + "/c.json", R"({"boot_timestamp": 5})");
  std::vector<FileEntry> changed;
  ASSERT_TRUE(db->scan(root, changed));
  EXPECT_EQ(time_of(changed, root + "/a.json"), 300);
  EXPECT_EQ(time_of(changed, root + "/b.json"), 20);
  EXPECT_EQ(time_of(changed, root + "/c.json"), 5);
}

}  // namespace
}  // namespace vexlo
