// Random sequences of changes to a log tree, each followed by one run that
// keeps its log time cache and one run whose cache was deleted: whatever
// the cache remembers, the two must print the same and leave the same
// database.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <sstream>
#include <thread>

#include "testing/temp_dir.h"
#include "vexlo/app/run.h"
#include "vexlo/db/log_time_cache_file.h"

namespace vexlo {
namespace {

namespace fs = std::filesystem;

const char* const kNames[] = {"a.json", "b.json", "d1/c.json", "d1/e.json", "d1/d2/f.json", "d1/d2/g.json"};

class TreeChanger {
 public:
  TreeChanger(std::string root, unsigned seed) : root_(std::move(root)), random_(seed) {}

  // Makes one random change and returns what it did.
  std::string change() {
    const std::string name = pick_name();
    const std::string path = root_ + "/" + name;
    switch (below(10)) {
      case 0:
      case 1:
        write(path, log_text(), mtime());
        return "write " + name;
      case 2:
        write(path, R"({"boot_timestamp": 1, "ev)", std::nullopt);
        return "partly written " + name;
      case 3:
        if (!is_file(path)) return "none";
        rewrite_keeping_size_and_mtime(path);
        return "same size and time " + name;
      case 4:
        if (!is_file(path)) return "none";
        (void)::truncate(path.c_str(), 0);
        return "truncate " + name;
      case 5:
        (void)::unlink(path.c_str());
        return "remove " + name;
      case 6: {
        const std::string other = pick_name();
        fs::create_directories(fs::path(root_ + "/" + other).parent_path());
        if (::rename(path.c_str(), (root_ + "/" + other).c_str()) != 0) return "none";
        return "rename " + name + " over " + other;
      }
      case 7: {
        const std::string target = root_ + "/" + pick_name();
        (void)::unlink(path.c_str());
        fs::create_directories(fs::path(path).parent_path());
        (void)::symlink(target.c_str(), path.c_str());
        return "link " + name;
      }
      case 8: {
        if (!is_file(path)) return "none";
        const struct timespec times[2] = {{mtime(), 0}, {mtime(), 0}};
        (void)::utimensat(AT_FDCWD, path.c_str(), times, 0);
        return "touch " + name;
      }
      default:
        fs::remove_all(root_ + "/d1/d2");
        return "remove d1/d2";
    }
  }

 private:
  unsigned below(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random_); }
  std::string pick_name() { return kNames[below(std::size(kNames))]; }
  // Few distinct values, so that times tie and sizes repeat.
  std::int64_t mtime() { return 1600000000 + 1000 * below(3); }
  std::string log_text() {
    if (below(3) == 0) return R"({"level": "info"})";
    return "{\"boot_timestamp\": " + std::to_string(below(4)) + "}";
  }
  // Through a link to its target when there is one to write, else in its
  // place.
  static void write(const std::string& path, const std::string& content, std::optional<std::int64_t> mtime) {
    try {
      testing::write_file(path, content, mtime);
    } catch (const std::exception&) {
      (void)::unlink(path.c_str());
      testing::write_file(path, content, mtime);
    }
  }
  static bool is_file(const std::string& path) {
    struct stat sb;
    return ::stat(path.c_str(), &sb) == 0 && S_ISREG(sb.st_mode);
  }
  // Another time of the same length, so that only the change time tells.
  void rewrite_keeping_size_and_mtime(const std::string& path) {
    struct stat before;
    if (::stat(path.c_str(), &before) != 0) return;
    std::string content = testing::read_file(path);
    for (char& c : content) {
      if (c >= '0' && c <= '8') c = static_cast<char>(c + 1);
    }
    write(path, content, std::nullopt);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    (void)::utimensat(AT_FDCWD, path.c_str(), times, 0);
  }

  std::string root_;
  std::mt19937 random_;
};

struct RunOutput {
  std::string out;
  std::string err;
  int status = 0;
  bool operator==(const RunOutput&) const = default;
};

RunOutput run_vexlo(const std::vector<std::string>& words) {
  std::vector<std::string_view> args;
  for (const auto& word : words) args.push_back(word);
  std::ostringstream out;
  std::ostringstream err;
  const int status = run(args, out, err);
  return {out.str(), err.str(), status};
}

// The database without its "last_sync" line, which tells when it was saved.
std::string database_without_sync_time(const std::string& path) {
  std::istringstream in(testing::read_file(path));
  std::string kept;
  for (std::string line; std::getline(in, line);) {
    if (line.find("\"last_sync\"") == std::string::npos) kept += line + "\n";
  }
  return kept;
}

void copy_if_there(const std::string& from, const std::string& to) {
  fs::remove(to);
  if (fs::exists(from)) fs::copy_file(from, to);
}

// Moves the cache's scan a minute later, so that the files the test has
// just changed count as settled and the cache answers for them whenever
// their identity is unchanged: the case to be tested.
void let_settle(const std::string& cache_file) {
  if (!fs::exists(cache_file)) return;
  auto cache = decode_log_time_cache(testing::read_file(cache_file));
  ASSERT_TRUE(cache);
  std::vector<LogTimeCache::Record> records = cache->records();
  os::Timestamp later = cache->scanned_at();
  later.seconds += 60;
  testing::write_file(cache_file, encode_log_time_cache(LogTimeCache::restore(std::move(records), later)));
}

TEST(LogTimeCacheDifferential, RunsWithAndWithoutTheCacheAgree) {
  constexpr int kSteps = 40;
  for (const unsigned seed : {1u, 2u, 3u, 4u}) {
    testing::ScopedTempDir dir;
    const std::string root = dir / "logs";
    const std::string config = root + "/.config";
    const std::string with_cache = dir / "with-cache";
    const std::string without = dir / "without";
    fs::create_directories(config);
    fs::create_directories(with_cache);
    fs::create_directories(without);
    TreeChanger changer(root, seed);
    std::mt19937 commands(seed);
    std::string history;
    for (int step = 0; step < kSteps; ++step) {
      history += changer.change() + "; ";
      // A change and the run that follows it a clock tick apart, as a run
      // and the next one are.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::vector<std::string> words = {"vexlo", "--config", dir / "none.toml", "--log-path", root};
      switch (commands() % 4) {
        case 0: words.insert(words.end(), {"list", "--all"}); break;
        case 1: words.insert(words.end(), {"logs", "3", "--filter", "json"}); break;
        case 2: words.insert(words.end(), {"list", "--filter", "d1"}); break;
        default: words.insert(words.end(), {"show", std::to_string(commands() % 12)}); break;
      }

      copy_if_there(with_cache + "/vexlo-db.json", config + "/vexlo-db.json");
      copy_if_there(with_cache + "/vexlo-cache", config + "/vexlo-cache");
      const RunOutput cached = run_vexlo(words);
      copy_if_there(config + "/vexlo-db.json", with_cache + "/vexlo-db.json");
      copy_if_there(config + "/vexlo-cache", with_cache + "/vexlo-cache");
      let_settle(with_cache + "/vexlo-cache");

      copy_if_there(without + "/vexlo-db.json", config + "/vexlo-db.json");
      fs::remove(config + "/vexlo-cache");
      const RunOutput afresh = run_vexlo(words);
      copy_if_there(config + "/vexlo-db.json", without + "/vexlo-db.json");

      ASSERT_EQ(cached, afresh) << "seed " << seed << ", after: " << history;
      ASSERT_EQ(database_without_sync_time(with_cache + "/vexlo-db.json"),
                database_without_sync_time(without + "/vexlo-db.json"))
          << "seed " << seed << ", after: " << history;
    }
  }
}

}  // namespace
}  // namespace vexlo
