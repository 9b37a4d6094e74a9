// The exit status of a run, which a script reads: 0 when the command did
// what was asked, 1 when it could not, 2 when the command line was not used
// as written. What the run writes is checked elsewhere; here only that
// something that says why is there.

#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace vexlo::e2e {
namespace {

TEST(ExitStatus, TellsWhatBecameOfTheRun) {
  Sandbox sandbox;
  sandbox.write({"logs/shutdown/unsafe/b.json", R"({"boot_timestamp": 4})"});
  sandbox.write({"plain", "not a directory\n"});
  sandbox.write({"stuck/shutdown/unsafe/c.json", R"({"boot_timestamp": 6})"});
  sandbox.make_dir("stuck/.config/vexlo-db.json");  // the database cannot be saved
  // Given its ID while whole, then cut short: show cannot parse it.
  ASSERT_EQ(sandbox.run({"--config", "no-such-config.toml", "--log-path", "logs", "list"}).out,
            "[ID:1] logs/shutdown/unsafe/b.json\n");
  sandbox.write({"logs/shutdown/unsafe/b.json", "{\"cut short"});
  sandbox.write({"logs/shutdown/unsafe/a.json", R"({"boot_timestamp": 5})"});
  const struct {
    std::string log_root;
    std::vector<std::string> args;  // after --config and --log-path
    int status;
    std::string err_part;  // what says why, or empty when nothing is said
  } cases[] = {
      {"", {}, 0, "Usage: "},
      {"logs", {"help"}, 0, "Usage: "},
      {"logs", {"list"}, 0, ""},
      {"stuck", {"list"}, 0, "sync error: "},
      {"new", {"list"}, 0, "Warning: log directory new did not exist and was created"},
      {"logs", {"logs", "--since=-2days", "--until", "2 hours ago"}, 0, ""},
      {"logs", {"show", "2"}, 0, ""},
      {"logs", {"list", "--help"}, 0, ""},
      {"logs", {"show", "99"}, 1, "File with ID 99 not found"},
      {"logs", {"show", "1"}, 1, "Error parsing JSON in file "},
      {"plain", {"list"}, 1, "Error initializing database: "},
      {"logs", {"lst"}, 2, "Unknown command: lst"},
      {"logs", {"list", "--jsno"}, 2, "Warning: ignoring \"--jsno\""},
      {"logs", {"logs", "3", "4"}, 2, "Warning: ignoring \"4\""},
      {"logs", {"logs", "--since", "a", "--since", "b"}, 2, "Warning: ignoring --since \"a\""},
      {"logs", {"logs", "--since", "tomorrow"}, 2, "Warning: --since value \"tomorrow\" is not a time expression"},
      {"logs", {"show", "99", "--bogus"}, 2, "File with ID 99 not found"},
      {"", {"--log-path"}, 2, "Warning: --log-path has no value"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args;
    if (!c.log_root.empty()) args = {"--config", "no-such-config.toml", "--log-path", c.log_root};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult result = sandbox.run(args);
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(result.status, c.status) << result;
    if (c.err_part.empty()) {
      EXPECT_EQ(result.err, "") << result;
    } else {
      EXPECT_NE(result.err.find(c.err_part), std::string::npos) << result;
    }
  }
}

}  // namespace
}  // namespace vexlo::e2e
