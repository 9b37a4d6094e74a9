// Runs that overlap while the daemon adds and removes logs must never give
// one ID to two different paths.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "testing/temp_dir.h"
#include "vexlo/db/database.h"

namespace vexlo {
namespace {

// Runs open-and-sync `runs` times and records every ID and path it saw
// after a successful synchronisation.
void record_runs(const std::string& root, const std::string& record_path, int runs) {
  std::ofstream record(record_path);
  for (int i = 0; i < runs; ++i) {
    auto db = Database::open(root);
    if (!db || !db->sync(root)) {
      record << "failed\n";
      continue;
    }
    for (const auto& entry : db->files()) record << entry.id << '\t' << entry.path << '\n';
  }
}

TEST(Concurrency, OverlappingRunsNeverGiveOneIdToTwoPaths) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "logs";
  std::vector<std::string> present;
  int created = 0;
  const auto add_log = [&] {
    const std::string path = root + "/log" + std::to_string(created) + ".json";
    testing::write_file(path, "{\"boot_timestamp\": " + std::to_string(created++) + "}");
    present.push_back(path);
  };
  for (int i = 0; i < 10; ++i) add_log();

  constexpr int kProcesses = 4, kRunsEach = 30;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      record_runs(root, dir / ("record" + std::to_string(p)), kRunsEach);
      ::_exit(0);
    }
    ASSERT_GT(pid, 0);
    children.push_back(pid);
  }
  // The daemon at work meanwhile.
  std::mt19937 random(7);
  for (std::size_t finished = 0; finished < children.size();) {
    add_log();
    if (random() % 2 == 0 && !present.empty()) {
      const auto victim = present.begin() + static_cast<std::ptrdiff_t>(random() % present.size());
      std::remove(victim->c_str());
      present.erase(victim);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(300));
    finished = 0;
    for (const pid_t pid : children) finished += ::waitpid(pid, nullptr, WNOHANG) == pid || ::kill(pid, 0) != 0;
  }
  for (const pid_t pid : children) ::waitpid(pid, nullptr, 0);

  std::map<std::uint64_t, std::set<std::string>> paths_by_id;
  int failed_runs = 0, recorded_runs_entries = 0;
  for (int p = 0; p < kProcesses; ++p) {
    std::ifstream record(dir / ("record" + std::to_string(p)));
    for (std::string line; std::getline(record, line);) {
      if (line == "failed") {
        ++failed_runs;
        continue;
      }
      const auto tab = line.find('\t');
      paths_by_id[std::stoull(line.substr(0, tab))].insert(line.substr(tab + 1));
      ++recorded_runs_entries;
    }
  }
  EXPECT_EQ(failed_runs, 0);
  EXPECT_GT(recorded_runs_entries, kProcesses * kRunsEach);
  std::ostringstream conflicts;
  for (const auto& [id, paths] : paths_by_id) {
    if (paths.size() < 2) continue;
    conflicts << "ID " << id << ":";
    for (const auto& path : paths) conflicts << " " << path.substr(root.size());
    conflicts << "\n";
  }
  EXPECT_EQ(conflicts.str(), "");
  std::printf("%d logs created, %zu IDs handed out\n", created, paths_by_id.size());
}

}  // namespace
}  // namespace vexlo
