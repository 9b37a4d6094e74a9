// IDs an administrator can write down: a log caught mid-write keeps its ID,
// a stray byte in the database renumbers nothing onto IDs already given,
// a low counter never puts two files on one ID, and 0 names no file.

#include <gtest/gtest.h>

#include "e2e/harness.h"
#include "testing/machine.h"

namespace vexlo::e2e {
namespace {

constexpr const char* kNoConfig = "no-such-config.toml";

RunResult run_on(const Sandbox& sandbox, std::vector<std::string> args) {
  std::vector<std::string> all = {"--config", kNoConfig, "--log-path", "logs"};
  all.insert(all.end(), args.begin(), args.end());
  return sandbox.run(all);
}

// A saved database as it lies on disk, with a fixed "last_sync".
std::string saved_database(const std::vector<std::pair<std::uint64_t, std::string>>& entries, std::uint64_t next) {
  std::string text = database_text(entries, next);
  text.replace(text.find(kLastSync), kLastSync.size(), "1764979200");
  return text;
}

TEST(IdStability, LogCaughtMidWriteComesBackUnderItsId) {
  Sandbox sandbox;
  const std::string crash = R"({"boot_timestamp": 20, "reason": "watchdog"})";
  sandbox.write({"logs/shutdown/unsafe/old.json", R"({"boot_timestamp": 10})"});
  sandbox.write({"logs/shutdown/unsafe/crash.json", crash});
  const std::string both = "[ID:2] logs/shutdown/unsafe/crash.json\n[ID:1] logs/shutdown/unsafe/old.json\n";
  EXPECT_EQ(run_on(sandbox, {"list"}).out, both);

  sandbox.write({"logs/shutdown/unsafe/crash.json", R"({"boot_timestamp": 2)"});
  RunResult result = run_on(sandbox, {"list"});
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "[ID:1] logs/shutdown/unsafe/old.json\n");
  result = run_on(sandbox, {"show", "2"});
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Error parsing JSON in file logs/shutdown/unsafe/crash.json\n");
  sandbox.write({"logs/shutdown/unsafe/new.json", R"({"boot_timestamp": 30})"});

  sandbox.write({"logs/shutdown/unsafe/crash.json", crash});
  result = run_on(sandbox, {"list"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "[ID:3] logs/shutdown/unsafe/new.json\n" + both);
  EXPECT_EQ(run_on(sandbox, {"show", "2"}).out, "boot_timestamp\n20\n\nreason\nwatchdog\n\n");
}

TEST(IdStability, StrayByteInTheDatabaseKeepsItAndGivesNoIdTwice) {
  Sandbox sandbox;
  sandbox.write({"logs/shutdown/unsafe/a.json", R"({"boot_timestamp": 10})"});
  sandbox.write({"logs/shutdown/unsafe/b.json", R"({"boot_timestamp": 20})"});
  // ID 9 belonged to a file that is gone; the counter remembers it.
  const std::string database =
      saved_database({{4, "logs/shutdown/unsafe/a.json"}, {7, "logs/shutdown/unsafe/b.json"}}, 10);
  sandbox.write({"logs/.config/vexlo-db.json", database + ","});

  RunResult result = run_on(sandbox, {"list"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.err, "Warning: damaged database file kept as logs/.config/vexlo-db.json.damaged\n");
  EXPECT_EQ(result.out, "[ID:11] logs/shutdown/unsafe/b.json\n[ID:10] logs/shutdown/unsafe/a.json\n");
  EXPECT_EQ(sandbox.read("logs/.config/vexlo-db.json.damaged"), database + ",");
  for (const char* old_id : {"4", "7", "9"}) {
    result = run_on(sandbox, {"show", old_id});
    EXPECT_EQ(result.err, std::string("File with ID ") + old_id + " not found\n");
  }

  // Damaged again later: the earlier kept file stays, the new one is numbered.
  sandbox.write({"logs/.config/vexlo-db.json", "\x01garbage \"id\": 30"});
  result = run_on(sandbox, {"list"});
  EXPECT_EQ(result.err, "Warning: damaged database file kept as logs/.config/vexlo-db.json.damaged.1\n");
  EXPECT_EQ(result.out, "[ID:32] logs/shutdown/unsafe/b.json\n[ID:31] logs/shutdown/unsafe/a.json\n");
  EXPECT_EQ(sandbox.read("logs/.config/vexlo-db.json.damaged"), database + ",");
  EXPECT_EQ(run_on(sandbox, {"list"}).err, "");
}

// Like every other message: escaped on a terminal, exact into a pipe.
TEST(IdStability, KeptFileIsNamedWithoutRawControlCharacters) {
  const std::string kept = "lo\x1b[2Jgs/.config/vexlo-db.json.damaged";
  const struct {
    StdoutTarget target;
    std::string shown;
  } cases[] = {
      {StdoutTarget::Capture, kept},
      {StdoutTarget::Terminal, "lo\\x1b[2Jgs/.config/vexlo-db.json.damaged"},
  };
  const std::string no_terminal = testing::why_no_terminal();
  for (const auto& c : cases) {
    if (c.target == StdoutTarget::Terminal && !no_terminal.empty()) continue;
    Sandbox sandbox;
    sandbox.write({"lo\x1b[2Jgs/.config/vexlo-db.json", "{\"files\": ["});
    const RunResult result =
        sandbox.run({"--config", kNoConfig, "--log-path", "lo\x1b[2Jgs", "list"}, {.stdout_target = c.target});
    EXPECT_EQ(result.status, 0) << result;
    EXPECT_EQ(c.target == StdoutTarget::Terminal ? result.out : result.err,
              "Warning: damaged database file kept as " + c.shown + "\n");
    EXPECT_TRUE(sandbox.exists(kept));
  }
  // The run into a pipe has been checked.
  if (!no_terminal.empty()) GTEST_SKIP() << "the run on a terminal: " << no_terminal;
}

TEST(IdStability, HandEditedCountersNeverShareOrGiveIdZero) {
  Sandbox sandbox;
  sandbox.write({"logs/shutdown/unsafe/a.json", R"({"boot_timestamp": 10})"});
  sandbox.write({"logs/shutdown/unsafe/b.json", R"({"boot_timestamp": 20})"});
  sandbox.write({"logs/shutdown/unsafe/c.json", R"({"boot_timestamp": 30})"});
  sandbox.write({"logs/shutdown/unsafe/d.json", R"({"boot_timestamp": 40})"});
  // A counter below the IDs held and at 0, an ID held twice, an entry with
  // ID 0: the first holder keeps its ID, the others get IDs above all.
  sandbox.write({"logs/.config/vexlo-db.json",
                 saved_database({{5, "logs/shutdown/unsafe/b.json"}, {5, "logs/shutdown/unsafe/a.json"},
                                 {0, "logs/shutdown/unsafe/c.json"}},
                                0)});
  const RunResult result = run_on(sandbox, {"list"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            "[ID:8] logs/shutdown/unsafe/d.json\n[ID:7] logs/shutdown/unsafe/c.json\n"
            "[ID:5] logs/shutdown/unsafe/b.json\n[ID:6] logs/shutdown/unsafe/a.json\n");
  // Whatever is typed for an ID that does not parse arrives as 0.
  for (const std::vector<std::string>& show :
       {std::vector<std::string>{"show"}, {"show", "0"}, {"show", "typo12"}, {"show", "--pretty", "2"}}) {
    const RunResult shown = run_on(sandbox, show);
    EXPECT_EQ(shown.out, "") << show.back();
    EXPECT_TRUE(shown.err.ends_with("File with ID 0 not found\n")) << shown.err;
  }
}

}  // namespace
}  // namespace vexlo::e2e
