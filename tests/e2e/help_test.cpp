// Help runs answer with the usage text on standard error and touch nothing:
// no configuration is read and no directory is created.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "e2e/harness.h"
#include "e2e/usage_text.h"

namespace vexlo::e2e {
namespace {

// The log root of the built-in configuration.
constexpr const char* kDefaultDatabaseDir = "/var/log/orvane/.config";

bool path_exists(const char* path) {
  struct stat st;
  return ::lstat(path, &st) == 0;
}

TEST(Help, UsageTextOnStandardErrorAndNothingCreated) {
  Sandbox sandbox;
  // A configuration that would send the database into the sandbox, and one
  // that does not parse: help must read neither.
  sandbox.write({"good.toml", "log_root_path = \"" + sandbox.path("from-config") + "\"\n"});
  sandbox.write({"broken.toml", "log_root_path = [\n"});
  sandbox.make_dir("work");
  const std::string good = sandbox.path("good.toml");
  const std::string broken = sandbox.path("broken.toml");
  const std::string logs = sandbox.path("logs");

  const struct {
    std::vector<std::string> argv;
    std::string err;
  } cases[] = {
      {{}, usage_text("vexlo")},
      {{""}, usage_text("vexlo")},
      {{"vexlo"}, usage_text("vexlo")},
      {{"/usr/local/bin/vexlo"}, usage_text("/usr/local/bin/vexlo")},
      {{"my vexlo"}, usage_text("my vexlo")},
      {{"./vx", "help"}, usage_text("./vx")},
      {{"vexlo", "-h"}, usage_text("vexlo")},
      {{"vexlo", "--help"}, usage_text("vexlo")},
      {{"vexlo", "help", "list", "--all"}, usage_text("vexlo")},
      {{"vexlo", "--config", good}, usage_text("vexlo")},
      {{"vexlo", "--config", broken, "--log-path", logs}, usage_text("vexlo")},
      {{"vexlo", "--config", broken, "help"}, usage_text("vexlo")},
      {{"vexlo", "--log-path"}, "Warning: --log-path has no value and is ignored\n" + usage_text("vexlo")},
      {{"vexlo", "--config", good, "--log-path"}, "Warning: --log-path has no value and is ignored\n" + usage_text("vexlo")},
      {{"vexlo", "--log-path", logs, "--help", "list"}, usage_text("vexlo")},
      {{"vexlo", "bogus", "--log-path", logs}, "Unknown command: bogus\n" + usage_text("vexlo")},
      {{"vexlo", ""}, "Unknown command: \n" + usage_text("vexlo")},
      {{"vexlo", "--config", good, "LIST"},
       "Warning: \"LIST\" is not a command; did you mean list?\nUnknown command: LIST\n" + usage_text("vexlo")},
      {{"vexlo", "--log-path", logs, "lists"},
       "Warning: \"lists\" is not a command; did you mean list?\nUnknown command: lists\n" + usage_text("vexlo")},
      {{"vexlo", "--all", "list"}, "Unknown command: --all\n" + usage_text("vexlo")},
      {{"x", "-v"}, "Unknown command: -v\n" + usage_text("x")},
  };
  const bool default_database_dir_existed = path_exists(kDefaultDatabaseDir);
  const auto before = sandbox.snapshot();
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& arg : c.argv) shown += "[" + arg + "]";
    const RunResult result = sandbox.run_argv(c.argv, {.working_directory = "work"});
    // A line before the usage text said the command line was not used as written.
    EXPECT_EQ(result.status, c.err.starts_with("Usage: ") ? 0 : 2) << shown << '\n' << result;
    EXPECT_EQ(result.out, "") << shown;
    EXPECT_EQ(result.err, c.err) << shown;
    EXPECT_EQ(sandbox.snapshot(), before) << shown;
  }
  EXPECT_EQ(path_exists(kDefaultDatabaseDir), default_database_dir_existed);
}

TEST(Help, UnknownWordThatIsNotUtf8IsShownReplaced) {
  Sandbox sandbox;
  const RunResult result = sandbox.run({"\xff" "x"});
  EXPECT_EQ(result.status, 2) << result;
  EXPECT_EQ(result.err, "Unknown command: \xEF\xBF\xBDx\n" + usage_text("vexlo"));
  EXPECT_TRUE(sandbox.snapshot().empty());
}

}  // namespace
}  // namespace vexlo::e2e
