#include "vexlo/db/log_time_cache.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <span>
#include <thread>

#include "testing/log_scan.h"
#include "testing/temp_dir.h"
#include "vexlo/db/database.h"
#include "vexlo/db/log_scan.h"
#include "vexlo/db/log_time_cache_file.h"

namespace vexlo {
namespace {

using Times = std::vector<std::optional<std::int64_t>>;

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

// A log root "/logs" of files directly below it, listed in the order of
// `names`, with times from a table; counts how often each file is read,
// from whatever thread.
class FakeTree : public ScanSource {
 public:
  std::vector<std::string> names;
  std::map<std::string, os::FileStatus> statuses;  // by name; some_status() otherwise
  std::map<std::string, std::optional<std::int64_t>> times;

  Result<os::FileStatus> status(const std::string& path) override {
    if (path == "/logs") {
      os::FileStatus directory;
      directory.type = os::FileType::Directory;
      return directory;
    }
    const std::string name = path.substr(6);
    const auto it = statuses.find(name);
    return it != statuses.end() ? it->second : some_status();
  }
  Result<std::vector<std::string>> list(const std::string&) override { return names; }
  std::optional<std::int64_t> log_time(const std::string& path, const os::FileVersion&, LogTimeReader&,
                                       std::uint64_t) override {
    const std::lock_guard lock(mutex_);
    ++reads[path.substr(6)];
    return times.at(path.substr(6));
  }

  std::map<std::string, int> reads;

 private:
  std::mutex mutex_;
};

// One scan of the fake tree: the time of every file listed, in order.
Times scan_times(FakeTree& tree, LogTimeCache& cache, std::size_t threads = 2) {
  std::vector<FileEntry> entries;
  EXPECT_TRUE(scan_log_files("/logs", entries, tree, cache, threads));
  Times times;
  std::size_t next = 0;
  for (const auto& name : tree.names) {
    if (tree.times.at(name)) {
      EXPECT_LT(next, entries.size());
      if (next >= entries.size()) break;
      EXPECT_EQ(entries[next].path, "/logs/" + name);
      times.push_back(entries[next++].timestamp);
    } else {
      times.push_back(std::nullopt);
    }
  }
  EXPECT_EQ(next, entries.size());
  return times;
}

TEST(LogTimeCache, ReadsAgainOnlyWhenTheFileChanged) {
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
  for (const auto& c : cases) {
    FakeTree tree;
    tree.names = {"a.json", "b.json", "c.json"};
    tree.times = {{"a.json", 10}, {"b.json", 42}, {"c.json", 30}};
    LogTimeCache cache;
    EXPECT_EQ(scan_times(tree, cache), (Times{10, 42, 30}));
    tree.times["b.json"] = 43;
    tree.statuses["b.json"] = some_status();
    c.apply(tree.statuses["b.json"]);
    const std::optional<std::int64_t> expected = c.reads == 1 ? 42 : 43;
    // Only b changes; the second scan meets the files in another order.
    EXPECT_EQ(scan_times(tree, cache), (Times{10, expected, 30})) << c.change;
    tree.names = {"c.json", "b.json", "a.json"};
    EXPECT_EQ(scan_times(tree, cache), (Times{30, expected, 10})) << c.change;
    EXPECT_EQ(tree.reads, (std::map<std::string, int>{{"a.json", 1}, {"b.json", c.reads}, {"c.json", 1}}))
        << c.change;
    EXPECT_EQ(cache.records().size(), 3u) << c.change;
  }
}

TEST(LogTimeCache, RemembersFilesThatAreNoLogFiles) {
  FakeTree tree;
  tree.names = {"partial.json", "a.json", "link.json"};
  tree.times = {{"partial.json", std::nullopt}, {"a.json", 1}, {"link.json", 2}};
  LogTimeCache cache;
  for (int scan = 0; scan < 2; ++scan) EXPECT_EQ(scan_times(tree, cache), (Times{std::nullopt, 1, 2}));
  EXPECT_EQ(tree.reads, (std::map<std::string, int>{{"a.json", 1}, {"link.json", 1}, {"partial.json", 1}}));
}

TEST(LogTimeCache, FilesAddedRemovedAndReorderedBetweenScans) {
  const struct {
    std::vector<std::string> names;
    bool changes_cache;
  } scans[] = {
      {{"a.json", "b.json", "c.json"}, true},
      {{"a.json", "b.json", "c.json"}, false},
      {{"d.json", "a.json", "c.json"}, true},       // one new before the known ones, one gone
      {{"c.json", "b.json", "e.json", "a.json"}, true},  // the order turned round, the one gone is back
      {{"c.json", "b.json", "e.json", "a.json"}, false},
      {{"c.json", "b.json", "e.json"}, true},  // the last one gone
      {{"b.json", "c.json", "e.json"}, true},  // two swapped
      {{"a.json", "b.json", "c.json", "d.json", "e.json"}, true},
  };
  FakeTree tree;
  for (const char* name : {"a.json", "b.json", "c.json", "d.json", "e.json"}) tree.times[name] = name[0];
  LogTimeCache cache;
  int index = 0;
  for (const auto& scan : scans) {
    tree.names = scan.names;
    Times expected;
    for (const auto& name : scan.names) expected.push_back(name[0]);
    EXPECT_EQ(scan_times(tree, cache), expected) << index;
    EXPECT_EQ(cache.changed(), scan.changes_cache) << index;
    cache.mark_saved();
    std::vector<std::string> recorded;
    for (const auto& record : cache.records()) recorded.push_back(record.path.substr(6));
    EXPECT_EQ(recorded, scan.names) << "the records follow the scan " << index;
    ++index;
  }
  // A file is forgotten by the first scan that does not find it.
  EXPECT_EQ(tree.reads, (std::map<std::string, int>{{"a.json", 2}, {"b.json", 2}, {"c.json", 1}, {"d.json", 2},
                                                     {"e.json", 1}}));
}

TEST(LogTimeCache, ManyThreadsGiveTheOrderOfOne) {
  FakeTree tree;
  Times expected;
  for (int i = 0; i < 500; ++i) {
    const std::string name = std::to_string(i * 7919 % 1000) + ".json";
    tree.names.push_back(name);
    tree.times[name] = i % 13 == 0 ? std::nullopt : std::optional<std::int64_t>(i % 17);
    expected.push_back(tree.times[name]);
  }
  for (std::size_t threads : {1u, 2u, 3u, 8u, 64u}) {
    LogTimeCache cache;
    EXPECT_EQ(scan_times(tree, cache, threads), expected) << threads;
  }
}

// Runs out of memory on one file, as a reader of a huge file might, or, in
// the walk, on looking at one while others are being read.
class ExhaustingTree : public FakeTree {
 public:
  bool in_walk = false;
  Result<os::FileStatus> status(const std::string& path) override {
    if (in_walk && path == "/logs/50.json") throw std::bad_alloc();
    return FakeTree::status(path);
  }
  std::optional<std::int64_t> log_time(const std::string& path, const os::FileVersion& version,
                                       LogTimeReader& reader, std::uint64_t max_size) override {
    if (!in_walk && path == "/logs/17.json") throw std::bad_alloc();
    return FakeTree::log_time(path, version, reader, max_size);
  }
};

TEST(LogTimeCache, MemoryRunningOutInAnyThreadReachesTheCaller) {
  for (const bool in_walk : {false, true}) {
    for (std::size_t threads : {1u, 2u, 8u}) {
      ExhaustingTree tree;
      tree.in_walk = in_walk;
      for (int i = 0; i < 100; ++i) {
        tree.names.push_back(std::to_string(i) + ".json");
        tree.times[tree.names.back()] = i;
      }
      LogTimeCache cache;
      std::vector<FileEntry> entries;
      EXPECT_THROW((void)scan_log_files("/logs", entries, tree, cache, threads), std::bad_alloc)
          << threads << in_walk;
      EXPECT_TRUE(cache.records().empty()) << threads << in_walk;
    }
  }
}

LogTimeCache::Record record_changed_at(os::Timestamp changed) {
  LogTimeCache::Record record{"/logs/a.json", some_status().version(), 5};
  record.identity.changed = changed.seconds;
  record.identity.changed_nsec = changed.nanoseconds;
  return record;
}

TEST(LogTimeCache, FilesChangedJustBeforeOrDuringTheScanAreReadAgain) {
  const os::Timestamp scanned_at{1700000100, 500};
  const struct {
    const char* name;
    os::Timestamp changed;
    bool trusted;
  } cases[] = {
      {"long before", {1700000000, 0}, true},
      {"a step and a nanosecond before", {1700000098, 499}, true},
      {"exactly a step before", {1700000098, 500}, false},
      {"within the step", {1700000099, 999999999}, false},
      {"at the start", {1700000100, 500}, false},
      {"during the scan", {1700000101, 0}, false},
  };
  for (const auto& c : cases) {
    const LogTimeCache::Record record = record_changed_at(c.changed);
    const LogTimeCache cache = LogTimeCache::restore({record}, scanned_at);
    LogTimeCache::Lookup lookup(cache);
    const auto found = lookup.find(record.path, record.identity);
    EXPECT_EQ(found.has_value(), c.trusted) << c.name;
    EXPECT_EQ(lookup.found_all_in_order(1), c.trusted) << c.name;
  }
  // The earliest start there is: nothing lies a step before it.
  const LogTimeCache::Record earliest = record_changed_at({-9223372036854775807 - 1, 0});
  const LogTimeCache cache = LogTimeCache::restore({earliest}, {-9223372036854775807 - 1, 0});
  LogTimeCache::Lookup lookup(cache);
  EXPECT_FALSE(lookup.find(earliest.path, earliest.identity));
}

LogTimeCache sample_cache() {
  std::vector<LogTimeCache::Record> records;
  records.push_back({"/logs/a.json", some_status().version(), 5});
  LogTimeCache::Record odd{"/logs/\xff odd\n.json", some_status().version(), std::nullopt};
  odd.identity.modified.reset();
  odd.identity.device = ~std::uint64_t{0};
  odd.identity.changed = -3;
  records.push_back(odd);
  records.push_back({"/logs/c.json", some_status().version(), -9223372036854775807 - 1});
  LogTimeCache::Record extreme{"/logs/d.json", some_status().version(), 9223372036854775807};
  extreme.identity.inode = extreme.identity.size = ~std::uint64_t{0};
  extreme.identity.modified = 9223372036854775807;
  extreme.identity.changed = -9223372036854775807 - 1;
  records.push_back(extreme);
  return LogTimeCache::restore(std::move(records), {1800000000, 999999999});
}

// Paths that share more or less with the one before, some longer than a
// count of one byte, in more records than one run of records that share.
LogTimeCache shared_prefix_cache() {
  std::vector<LogTimeCache::Record> records;
  for (int i = 0; i < 150; ++i) {
    std::string path = "/logs/" + std::string(static_cast<std::size_t>(i % 7) * 40, 'd') + "/" + std::to_string(i);
    if (i % 5 == 0) path.resize(path.size() / 2);  // shares all it has with a path before
    path += "." + std::to_string(i);
    auto identity = some_status().version();
    identity.inode = static_cast<std::uint64_t>(i);
    records.push_back({path + ".json", identity, i});
  }
  return LogTimeCache::restore(std::move(records), {1800000000, 0});
}

TEST(LogTimeCache, EveryRecordIsFoundInAnyOrder) {
  const LogTimeCache cache = shared_prefix_cache();
  const std::vector<LogTimeCache::Record> records = cache.records();
  ASSERT_EQ(records.size(), 150u);
  for (const bool backwards : {false, true}) {
    LogTimeCache::Lookup lookup(cache);
    for (std::size_t k = 0; k < records.size(); ++k) {
      const auto& record = records[backwards ? records.size() - 1 - k : k];
      EXPECT_EQ(lookup.find(record.path, record.identity), std::optional(record.time)) << record.path;
      EXPECT_EQ(lookup.path_met(), backwards ? records.size() - 1 - k : k) << record.path;
    }
    EXPECT_EQ(lookup.found_all_in_order(records.size()), !backwards);
    // A path no record has meets none, whatever was met before.
    EXPECT_FALSE(lookup.find("/logs/none.json", records[0].identity));
    EXPECT_EQ(lookup.path_met(), std::nullopt);
  }
}

// The records with a time, by time and then by place: what a database
// saved from the scan that wrote them holds in the same order.
TEST(LogTimeCache, TimedPositionsByTime) {
  EXPECT_EQ(sample_cache().timed_positions_by_time(), (std::vector<std::uint32_t>{2, 0, 3}));
  std::vector<LogTimeCache::Record> records;
  for (const std::optional<std::int64_t> time : {std::optional<std::int64_t>(7), {}, {3}, {7}, {3}, {}}) {
    records.push_back({"/logs/" + std::to_string(records.size()), some_status().version(), time});
  }
  const LogTimeCache cache = LogTimeCache::restore(std::move(records), {1800000000, 0});
  EXPECT_EQ(cache.timed_positions_by_time(), (std::vector<std::uint32_t>{2, 4, 0, 3}));
}

void expect_same(const LogTimeCache& a, const LogTimeCache& b) {
  EXPECT_EQ(a.scanned_at(), b.scanned_at());
  ASSERT_EQ(a.records().size(), b.records().size());
  for (std::size_t i = 0; i < a.records().size(); ++i) {
    EXPECT_EQ(a.records()[i].path, b.records()[i].path);
    EXPECT_EQ(a.records()[i].identity, b.records()[i].identity);
    EXPECT_EQ(a.records()[i].time, b.records()[i].time);
  }
}

// Read in pieces of any size, records cut by the end of a piece included.
constexpr std::size_t kPieceSizes[] = {1, 7, 100, kCachePieceSize};

TEST(LogTimeCacheFile, WhatIsWrittenReadsBack) {
  for (const LogTimeCache& cache : {LogTimeCache(), sample_cache(), shared_prefix_cache()}) {
    for (const std::size_t piece : kPieceSizes) {
      const auto decoded = decode_log_time_cache(encode_log_time_cache(cache), piece);
      ASSERT_TRUE(decoded) << piece;
      expect_same(*decoded, cache);
      EXPECT_FALSE(decoded->changed());
    }
  }
}

TEST(LogTimeCacheFile, AnythingButAWholeIntactFileOfThisVersionIsNoCache) {
  const std::string text = encode_log_time_cache(sample_cache());
  for (std::size_t length = 0; length < text.size(); ++length) {
    for (const std::size_t piece : kPieceSizes) {
      EXPECT_FALSE(decode_log_time_cache(text.substr(0, length), piece)) << "cut at " << length << " in " << piece;
    }
  }
  // A file that cannot be read to its end.
  const ReadFileAt failing = [&text](std::uint64_t offset, std::span<char> into) -> Result<std::size_t> {
    if (offset + into.size() >= text.size()) return std::unexpected(Error{"Input/output error", EIO});
    std::copy_n(text.begin() + static_cast<std::ptrdiff_t>(offset), into.size(), into.begin());
    return into.size();
  };
  EXPECT_FALSE(decode_log_time_cache(text.size(), failing, 16));
  for (std::size_t at = 0; at < text.size(); ++at) {
    for (const unsigned char flip : {0x01, 0x80}) {
      std::string damaged = text;
      damaged[at] = static_cast<char>(damaged[at] ^ flip);
      EXPECT_FALSE(decode_log_time_cache(damaged)) << "byte " << at << " flipped by " << int{flip};
    }
  }
  EXPECT_FALSE(decode_log_time_cache(text + '\0'));
  EXPECT_FALSE(decode_log_time_cache(""));
  EXPECT_FALSE(decode_log_time_cache("{\"files\": []}"));
}

// The real file system, counting the reads that reach it.
class CountingSystemSource : public SystemScanSource {
 public:
  std::atomic<int> reads = 0;
  std::optional<std::int64_t> log_time(const std::string& path, const os::FileVersion& version,
                                       LogTimeReader& reader, std::uint64_t max_size) override {
    ++reads;
    return SystemScanSource::log_time(path, version, reader, max_size);
  }
};

// One run's scan with a cache kept in a file between runs, as the database
// keeps it. The cache is written as if its scan had begun a minute later
// than it did, so that the files the test has just made count as settled
// and only their identity tells whether they changed.
std::vector<FileEntry> scan_run(const std::string& root, const std::string& cache_file, int& reads) {
  LogTimeCache cache;
  if (std::FILE* f = std::fopen(cache_file.c_str(), "r")) {
    std::fclose(f);
    auto decoded = decode_log_time_cache(testing::read_file(cache_file));
    EXPECT_TRUE(decoded);
    if (decoded) cache = std::move(*decoded);
  }
  CountingSystemSource source;
  std::vector<FileEntry> entries;
  EXPECT_TRUE(scan_log_files(root, entries, source, cache, 2));
  reads = source.reads;
  std::vector<LogTimeCache::Record> records = cache.records();
  os::Timestamp later = cache.scanned_at();
  later.seconds += 60;
  testing::write_file(cache_file, encode_log_time_cache(LogTimeCache::restore(std::move(records), later)));
  return entries;
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

void set_mtime(const std::string& path, std::int64_t seconds) {
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::string entries_text(const std::vector<FileEntry>& entries, const std::string& root) {
  std::string text;
  for (const auto& entry : entries) text += entry.path.substr(root.size()) + "=" + std::to_string(entry.timestamp) + " ";
  return text;
}

TEST(LogTimeCacheOnDisk, TheNextRunSeesEveryKindOfChange) {
  const std::string kA = R"({"boot_timestamp": 100})";
  const struct {
    const char* change;
    std::function<void(const std::string& root)> apply;
    std::string after;  // the scan after the change
    int reads;
  } cases[] = {
      {"nothing", [](const std::string&) {}, "/a.json=100 /b.json=7 ", 0},
      {"content, same size and modification time",
       [](const std::string& root) { rewrite_keeping_size_and_mtime(root + "/a.json", R"({"boot_timestamp": 101})"); },
       "/a.json=101 /b.json=7 ", 1},
      {"another file renamed over it",
       [](const std::string& root) {
         testing::write_file(root + "/new", R"({"boot_timestamp": 102})");
         ASSERT_EQ(::rename((root + "/new").c_str(), (root + "/a.json").c_str()), 0);
       },
       "/a.json=102 /b.json=7 ", 1},
      {"replaced by a link",
       [](const std::string& root) {
         testing::write_file(root + "/target.txt", R"({"boot_timestamp": 103})");
         ASSERT_EQ(::unlink((root + "/a.json").c_str()), 0);
         ASSERT_EQ(::symlink("target.txt", (root + "/a.json").c_str()), 0);
       },
       "/a.json=103 /b.json=7 ", 1},
      {"truncated", [](const std::string& root) { ASSERT_EQ(::truncate((root + "/a.json").c_str(), 0), 0); },
       "/b.json=7 ", 1},
      {"times touched only", [](const std::string& root) { set_mtime(root + "/b.json", 1600000000); },
       "/a.json=100 /b.json=1600000000 ", 1},
      {"gone", [](const std::string& root) { ASSERT_EQ(::unlink((root + "/a.json").c_str()), 0); }, "/b.json=7 ", 0},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    const std::string root = dir / "logs";
    const std::string cache_file = dir / "cache";
    testing::write_file(root + "/a.json", kA);
    testing::write_file(root + "/b.json", R"({"x": 1})", 7);
    int reads = 0;
    EXPECT_EQ(entries_text(scan_run(root, cache_file, reads), root), "/a.json=100 /b.json=7 ");
    EXPECT_EQ(reads, 2);
    // The test's own moves, to learn the order the directory lists.
    std::vector<FileEntry> fresh;
    c.apply(root);
    ASSERT_TRUE(testing::scan_afresh(root, fresh));
    auto after = scan_run(root, cache_file, reads);
    EXPECT_EQ(after, fresh) << c.change;
    std::sort(after.begin(), after.end(), [](const FileEntry& x, const FileEntry& y) { return x.path < y.path; });
    EXPECT_EQ(entries_text(after, root), c.after) << c.change;
    EXPECT_EQ(reads, c.reads) << c.change;

    // Put back as it was: content, times and all, the file the first run
    // read; the change time and the inode tell.
    ::unlink((root + "/a.json").c_str());
    testing::write_file(root + "/a.json", kA);
    testing::write_file(root + "/b.json", R"({"x": 1})", 7);
    auto back = scan_run(root, cache_file, reads);
    std::sort(back.begin(), back.end(), [](const FileEntry& x, const FileEntry& y) { return x.path < y.path; });
    EXPECT_EQ(entries_text(back, root), "/a.json=100 /b.json=7 ") << c.change;
  }
}

TEST(LogTimeCacheOnDisk, AFileChangedUnseenWithinTheTimeStepIsReadAgain) {
  const struct {
    const char* name;
    std::int64_t scan_later_by;  // seconds the cache's scan is moved forward
    std::int64_t time;
  } cases[] = {
      {"changed just before the scan began: read again", 0, 200},
      {"settled long before the scan: trusted", 60, 100},
  };
  for (const auto& c : cases) {
    testing::ScopedTempDir dir;
    const std::string root = dir / "logs";
    const std::string cache_file = root + "/.config/vexlo-cache";
    testing::write_file(root + "/a.json", R"({"boot_timestamp": 100})");
    {
      auto db = Database::open(root);
      ASSERT_TRUE(db);
      ASSERT_TRUE(db->sync(root));
    }
    // The file changes while its identity stays what the cache holds, as a
    // change within one tick of a coarse clock would leave it.
    testing::write_file(root + "/a.json", R"({"boot_timestamp": 200})");
    const auto cached = decode_log_time_cache(testing::read_file(cache_file));
    ASSERT_TRUE(cached);
    ASSERT_EQ(cached->records().size(), 1u);
    std::vector<LogTimeCache::Record> records = cached->records();
    const auto status = os::stat_path(root + "/a.json");
    ASSERT_TRUE(status);
    records[0].identity = status->version();
    os::Timestamp scanned_at = cached->scanned_at();
    scanned_at.seconds += c.scan_later_by;
    testing::write_file(cache_file, encode_log_time_cache(LogTimeCache::restore(std::move(records), scanned_at)));

    auto next = Database::open(root);
    ASSERT_TRUE(next);
    ASSERT_TRUE(next->sync(root));
    std::vector<FileEntry> entries;
    ASSERT_TRUE(next->scan(root, entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].timestamp, c.time) << c.name;
  }
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
  ASSERT_TRUE(testing::scan_afresh(root, fresh));
  EXPECT_EQ(unchanged, fresh);

  testing::write_file(root + "/a.json", R"({"boot_timestamp": 300})");
  testing::write_file(root + "/c.json", R"({"boot_timestamp": 5})");
  std::vector<FileEntry> changed;
  ASSERT_TRUE(db->scan(root, changed));
  std::sort(changed.begin(), changed.end(), [](const FileEntry& x, const FileEntry& y) { return x.path < y.path; });
  EXPECT_EQ(entries_text(changed, root), "/a.json=300 /b.json=20 /c.json=5 ");
}

}  // namespace
}  // namespace vexlo
