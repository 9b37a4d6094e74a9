// Runs killed at random moments, many times over: the database file must
// always be whole, holding either the IDs from before the killed run or
// those the run was saving.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <thread>

#include "testing/temp_dir.h"
#include "vexlo/db/database.h"
#include "vexlo/db/database_file.h"
#include "vexlo/json/json.h"

namespace vexlo {
namespace {

struct State {
  std::map<std::string, std::uint64_t> ids;
  std::uint64_t next_file_id = 1;
  bool operator==(const State&) const = default;
};

// The state in the file, or none when the file is not a whole database
// (missing, cut short, not one JSON object with both members).
std::optional<State> read_whole_database(const std::string& path) {
  std::string text;
  try {
    text = testing::read_file(path);
  } catch (...) {
    return std::nullopt;
  }
  auto document = json::parse(text);
  if (!document || document->root().kind() != json::Kind::Object) return std::nullopt;
  const auto files = document->root().find("files");
  const auto next = document->root().find("next_file_id");
  if (!files || files->kind() != json::Kind::Array || !next || next->kind() != json::Kind::Unsigned) {
    return std::nullopt;
  }
  const DatabaseContent content = load_database(text).content;
  if (content.files.size() != files->size()) return std::nullopt;
  State state;
  for (const auto& entry : content.files) state.ids.emplace(entry.path, entry.id);
  state.next_file_id = content.next_file_id;
  return state;
}

// What a complete run over `on_disk` (path and time) makes of `before`.
State after_sync(const State& before, std::vector<std::pair<std::string, std::int64_t>> on_disk) {
  std::stable_sort(on_disk.begin(), on_disk.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  State after;
  after.next_file_id = before.next_file_id;
  for (const auto& [path, time] : on_disk) {
    const auto known = before.ids.find(path);
    after.ids[path] = known != before.ids.end() ? known->second : after.next_file_id++;
  }
  return after;
}

pid_t start_run(const std::string& root) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    auto db = Database::open(root);
    ::_exit(db && db->sync(root) ? 0 : 1);
  }
  return pid;
}

int temporary_files_in(const std::string& config_dir) {
  const auto names = testing::directory_names(config_dir);
  return static_cast<int>(std::count_if(names.begin(), names.end(),
                                        [](const auto& name) {
                                          return name != "vexlo-db.json" && name != "vexlo-cache" &&
                                                 name != "vexlo-db.lock";
                                        }));
}

TEST(CrashSafety, RunsKilledDuringTheirSaveLeaveAWholeDatabase) {
  testing::ScopedTempDir dir;
  const std::string root = dir / "logs";
  // Long paths make the database large, so that kills often land inside
  // the save.
  const std::string deep = root + "/" + std::string(200, 'd') + "/" + std::string(200, 'e');
  std::vector<std::pair<std::string, std::int64_t>> on_disk;
  std::int64_t clock = 0;
  const auto add_log = [&] {
    const std::string path = deep + "/" + std::string(150, 'f') + std::to_string(clock) + ".json";
    testing::write_file(path, "{\"boot_timestamp\": " + std::to_string(clock) + "}");
    on_disk.emplace_back(path, clock++);
  };
  for (int i = 0; i < 300; ++i) add_log();

  // Complete runs give the starting state and the time a run takes.
  const auto started = std::chrono::steady_clock::now();
  constexpr int kTimedRuns = 5;
  for (int i = 0; i < kTimedRuns; ++i) {
    int status = 0;
    ASSERT_EQ(::waitpid(start_run(root), &status, 0) > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
  }
  const auto run_time = (std::chrono::steady_clock::now() - started) / kTimedRuns;
  const std::string db_path = root + "/.config/vexlo-db.json";
  std::optional<State> state = read_whole_database(db_path);
  ASSERT_TRUE(state);

  std::mt19937 random(12345);
  std::uniform_int_distribution<std::int64_t> moment(
      0, std::chrono::duration_cast<std::chrono::microseconds>(run_time).count() * 3 / 2);
  int unchanged = 0, saved = 0, interrupted_saves = 0;
  constexpr int kRuns = 200;
  for (int run = 0; run < kRuns; ++run) {
    add_log();
    if (run % 7 == 3) {
      // A log rotated away: its entry goes with the next complete run.
      const auto victim = on_disk.begin() + static_cast<std::ptrdiff_t>(random() % on_disk.size());
      ASSERT_EQ(std::remove(victim->first.c_str()), 0);
      on_disk.erase(victim);
    }
    const State before = *state;
    const State after = after_sync(before, on_disk);
    const pid_t pid = start_run(root);
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    ::kill(pid, SIGKILL);
    ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);

    if (temporary_files_in(root + "/.config") > 0) ++interrupted_saves;
    state = read_whole_database(db_path);
    ASSERT_TRUE(state) << "database not whole after run " << run << ":\n" << testing::read_file(db_path);
    ASSERT_TRUE(*state == before || *state == after) << "run " << run;
    ++(*state == before ? unchanged : saved);
  }
  std::printf("%d runs killed: %d before their save took effect, %d after, %d inside the save\n", kRuns, unchanged,
              saved, interrupted_saves);
  EXPECT_GT(unchanged, 0);
  EXPECT_GT(saved, 0);
  EXPECT_GT(interrupted_saves, 0) << "no kill landed between writing and renaming";

  // The next complete run clears what the killed ones left behind.
  int status = 0;
  ASSERT_EQ(::waitpid(start_run(root), &status, 0) > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
  EXPECT_EQ(temporary_files_in(root + "/.config"), 0);
  EXPECT_EQ(read_whole_database(db_path), after_sync(*state, on_disk));
}

}  // namespace
}  // namespace vexlo
