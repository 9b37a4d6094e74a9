// The steps of a run that every command shares: configuration, log root,
// database directory, synchronisation, then the command.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "e2e/harness.h"

namespace vexlo::e2e {
namespace {

// A configuration file that does not exist: the defaults, silently.
constexpr const char* kNoConfig = "no-such-config.toml";

TEST(RunOrder, LogRootThatIsNotADirectoryEndsTheRun) {
  Sandbox sandbox;
  sandbox.write({"plain", "not a directory\n"});
  sandbox.write({"root/.config", "a file where the database directory belongs\n"});
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--config", kNoConfig, "--log-path", "plain", "list"}, "Error initializing database: Not a directory (os error 20)\n"},
      {{"--log-path", "plain", "--config", kNoConfig, "logs", "3"}, "Error initializing database: Not a directory (os error 20)\n"},
      {{"show", "1", "--config", kNoConfig, "--log-path", sandbox.path("plain")},
       "Error initializing database: Not a directory (os error 20)\n"},
      {{"--config", kNoConfig, "--log-path", "plain/sub", "list"},
       "Error initializing database: Not a directory (os error 20)\n"},
      {{"--config", kNoConfig, "--log-path", "root", "list", "--all"}, "Error initializing database: File exists (os error 17)\n"},
  };
  const auto before = sandbox.snapshot();
  for (const auto& c : cases) {
    const RunResult result = sandbox.run(c.args);
    EXPECT_EQ(result.status, 1) << result;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(sandbox.snapshot(), before);
  }
}

// Whatever the umask, nothing a run creates may be written by group or
// others, so that the next run trusts it.
TEST(RunOrder, MissingLogRootIsCreatedWithItsDatabase) {
  for (const mode_t umask : {022, 000, 002, 077}) {
    Sandbox sandbox;
    const mode_t before = ::umask(umask);
    const RunResult result = sandbox.run({"--config", kNoConfig, "--log-path", "a/b/logs", "list", "--all"});
    sandbox.write({"a/b/logs/shutdown/unsafe/x.json", "{}"});
    const RunResult second = sandbox.run({"--config", kNoConfig, "--log-path", "a/b/logs", "list"});
    ::umask(before);
    EXPECT_EQ(result.status, 0) << result;
    EXPECT_EQ(result.out + result.err + second.err, "Warning: log directory a/b/logs did not exist and was created\n")
        << umask;
    for (const auto& [path, mode] : std::map<std::string, mode_t>{{"a", 0755}, {"a/b", 0755}, {"a/b/logs", 0755},
             {"a/b/logs/.config", 0755}, {database_path("a/b/logs"), 0644},
             {"a/b/logs/.config/vexlo-db.lock", 0600}, {"a/b/logs/.config/vexlo-cache", 0600}}) {
      struct stat sb {};
      EXPECT_EQ(::lstat(sandbox.path(path).c_str(), &sb), 0) << path;
      EXPECT_EQ(sb.st_mode & 07777, mode & ~umask) << path << " under umask " << umask;
    }
  }
}

TEST(RunOrder, LogPathWinsOverTheConfiguration) {
  Sandbox sandbox;
  sandbox.write({"vexlo.toml", "log_root_path = \"from-config\"\n"});
  sandbox.write({"from-option/shutdown/unsafe/a.json", R"({"boot_timestamp": 10})"});
  sandbox.write({"from-config/shutdown/unsafe/b.json", R"({"boot_timestamp": 20})"});

  RunResult result = sandbox.run({"--config", "vexlo.toml", "list", "--log-path", "from-option"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.out, "[ID:1] from-option/shutdown/unsafe/a.json\n");
  EXPECT_FALSE(sandbox.exists("from-config/.config"));

  result = sandbox.run({"list", "--config", "vexlo.toml"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.out, "[ID:1] from-config/shutdown/unsafe/b.json\n");
  EXPECT_EQ(result.err, "");
}

TEST(RunOrder, MalformedConfigurationIsReportedAndTheRunGoesOn) {
  Sandbox sandbox;
  sandbox.write({"broken.toml", "log_root_path = /var/log\n"});
  sandbox.write({"logs/shutdown/unsafe/a.json", R"({"boot_timestamp": 10})"});
  const RunResult result = sandbox.run({"--config", "broken.toml", "--log-path", "logs", "list"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_TRUE(result.out.starts_with("parse config error: TOML parse error at line 1, column 17\n")) << result;
  EXPECT_TRUE(result.out.ends_with("\n\n[ID:1] logs/shutdown/unsafe/a.json\n")) << result;
  EXPECT_EQ(result.err, "");
  // Standard output holds JSON alone.
  const RunResult json = sandbox.run({"--config", "broken.toml", "--log-path", "logs", "list", "--json"});
  EXPECT_TRUE(json.err.starts_with("parse config error: TOML parse error at line 1, column 17\n")) << json;
  EXPECT_TRUE(json.out.starts_with("{\"id\":1,")) << json;
}

TEST(RunOrder, FailedSyncIsReportedAndTheCommandStillRuns) {
  Sandbox sandbox;
  sandbox.write({"logs/shutdown/unsafe/new.json", R"({"boot_timestamp": 30})"});
  sandbox.write({"logs/shutdown/unsafe/old.json", R"({"boot_timestamp": 20})"});
  // The database file is a directory: it loads as empty and cannot be saved.
  sandbox.make_dir("logs/.config/vexlo-db.json");
  const RunResult result = sandbox.run({"--config", kNoConfig, "--log-path", "logs", "list"});
  EXPECT_EQ(result.status, 0) << result;
  // Nothing saved, so nothing numbered.
  EXPECT_TRUE(result.err.starts_with("sync error: Is a directory (os error 21)\nWarning: File ")) << result;
  EXPECT_EQ(result.out,
            "[ID:0] logs/shutdown/unsafe/new.json\n"
            "[ID:0] logs/shutdown/unsafe/old.json\n");
}

// What the command line drops is said before every other message and the
// listing.
TEST(RunOrder, CommandLineWarningsComeFirst) {
  Sandbox sandbox;
  sandbox.write({"logs/shutdown/unsafe/a.json", R"({"boot_timestamp": 10})"});
  sandbox.make_dir("logs/.config/vexlo-db.json");
  const RunResult result =
      sandbox.run({"--config", kNoConfig, "--log-path", "logs", "list", "--prety"}, {.merge_stderr = true});
  EXPECT_EQ(result.out,
            "Warning: ignoring \"--prety\"; did you mean --pretty? (show takes --pretty, list does not)\n"
            "sync error: Is a directory (os error 21)\n"
            "Warning: File logs/shutdown/unsafe/a.json not found in database\n[ID:0] logs/shutdown/unsafe/a.json\n");
}

TEST(RunOrder, EmptyLogPathPutsTheDatabaseInTheWorkingDirectory) {
  Sandbox sandbox;
  sandbox.make_dir("work");
  const RunResult result =
      sandbox.run({"--config", kNoConfig, "--log-path", "", "list", "--all"}, {.working_directory = "work"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(database_matches(sandbox.read("work/.config/vexlo-db.json"), database_text({}, 1), result.started_at,
                               result.ended_at));
}

}  // namespace
}  // namespace vexlo::e2e
