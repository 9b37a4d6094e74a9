// A database file that anyone with write access to the log root may have
// damaged or edited: megabytes of garbage start a fresh database, the
// garbage kept beside it and new IDs above any still legible in it, and a
// counter edited to its largest value never wraps around to hand out IDs a
// second time.

#include <gtest/gtest.h>

#include <random>

#include "e2e/harness.h"

namespace vexlo::e2e {
namespace {

constexpr const char* kNoConfig = "no-such-config.toml";

RunResult run_on(const Sandbox& sandbox, std::vector<std::string> args) {
  std::vector<std::string> all = {"--config", kNoConfig, "--log-path", "logs"};
  all.insert(all.end(), args.begin(), args.end());
  return sandbox.run(all);
}

std::string random_bytes(std::size_t size) {
  std::mt19937 generator(20251207);
  std::string bytes(size, '\0');
  for (auto& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
  return bytes;
}

std::string repeated(std::string_view piece, std::size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(HostileDatabase, MegabytesOfGarbageStartAFreshDatabase) {
  constexpr std::size_t kSize = 4 << 20;
  const struct {
    const char* name;
    std::string content;
    std::uint64_t first_id;  // above every ID legible in the garbage
  } cases[] = {
      {"random bytes", random_bytes(kSize), 1},
      {"brackets nested far too deep", std::string(kSize, '['), 1},
      {"entries cut off in the middle",
       "{\"next_file_id\": 900, \"files\": [" + repeated("{\"id\": 7, \"path\": \"logs/a.json\"}, ", kSize / 34), 900},
      {"a string that never ends", "{\"files\": [], \"next_file_id\": 5, \"x\": \"" + std::string(kSize, 'x'), 5},
  };
  for (const auto& c : cases) {
    Sandbox sandbox;
    sandbox.write({"logs/shutdown/unsafe/a.json", R"({"boot_timestamp": 10})"});
    sandbox.write({"logs/events/b.json", R"({"boot_timestamp": 20})"});
    sandbox.write({"logs/.config/vexlo-db.json", c.content});
    const RunResult result = run_on(sandbox, {"list", "--all"});
    EXPECT_FALSE(result.timed_out) << c.name;
    EXPECT_EQ(result.status, 0) << c.name << "\n" << result;
    EXPECT_EQ(result.err, "Warning: damaged database file kept as logs/.config/vexlo-db.json.damaged\n") << c.name;
    const std::string a_id = std::to_string(c.first_id);
    const std::string b_id = std::to_string(c.first_id + 1);
    EXPECT_EQ(result.out, "[ID:" + b_id + "] logs/events/b.json\n[ID:" + a_id + "] logs/shutdown/unsafe/a.json\n")
        << c.name;
    EXPECT_TRUE(database_matches(
        sandbox.read(database_path("logs")),
        database_text({{c.first_id, "logs/shutdown/unsafe/a.json"}, {c.first_id + 1, "logs/events/b.json"}},
                      c.first_id + 2),
        result.started_at, result.ended_at))
        << c.name;
    EXPECT_TRUE(sandbox.read("logs/.config/vexlo-db.json.damaged") == c.content) << c.name;
  }
}

TEST(HostileDatabase, ExhaustedCounterGivesNoIdsRatherThanRepeatingThem) {
  constexpr std::uint64_t kLast = 18446744073709551615u;
  Sandbox sandbox;
  sandbox.write({"logs/shutdown/unsafe/old.json", R"({"boot_timestamp": 100})"});
  std::string edited = database_text({{5, "logs/shutdown/unsafe/old.json"}}, kLast - 1);
  edited.replace(edited.find(kLastSync), kLastSync.size(), "1764979200");
  sandbox.write({"logs/.config/vexlo-db.json", edited});
  for (int i = 1; i <= 3; ++i) {
    sandbox.write({"logs/shutdown/unsafe/new" + std::to_string(i) + ".json",
                   "{\"boot_timestamp\": " + std::to_string(i) + "}"});
  }
  // The last value of the counter cannot be handed out, since no value
  // would be left to follow it; files that arrive after that get no ID
  // and no entry, since 0 is no ID: they are listed as 0 with the warning
  // for a file the database does not know (in scan order).
  const std::string warning2 = "Warning: File logs/shutdown/unsafe/new2.json not found in database\n";
  const std::string warning3 = "Warning: File logs/shutdown/unsafe/new3.json not found in database\n";
  const std::string listing =
      "[ID:5] logs/shutdown/unsafe/old.json\n"
      "[ID:0] logs/shutdown/unsafe/new3.json\n"
      "[ID:0] logs/shutdown/unsafe/new2.json\n"
      "[ID:18446744073709551614] logs/shutdown/unsafe/new1.json\n";
  const std::string database = database_text(
      {{kLast - 1, "logs/shutdown/unsafe/new1.json"}, {5, "logs/shutdown/unsafe/old.json"}}, kLast);
  for (int run = 0; run < 2; ++run) {
    const RunResult result = run_on(sandbox, {"list"});
    EXPECT_EQ(result.status, 0) << result;
    EXPECT_TRUE(result.err == warning2 + warning3 || result.err == warning3 + warning2) << result.err;
    EXPECT_EQ(result.out, listing);
    EXPECT_TRUE(database_matches(sandbox.read(database_path("logs")), database, result.started_at, result.ended_at));
  }

  sandbox.write({"logs/shutdown/unsafe/new4.json", R"({"boot_timestamp": 4})"});
  const RunResult result = run_on(sandbox, {"show", "0"});
  EXPECT_EQ(result.status, 1) << result;
  EXPECT_EQ(result.out, "");  // 0 names no file, not the first one without an ID
  EXPECT_EQ(result.err, "File with ID 0 not found\n");
  EXPECT_NE(sandbox.read(database_path("logs")).find("\"next_file_id\": 18446744073709551615\n}"), std::string::npos);
}

}  // namespace
}  // namespace vexlo::e2e
