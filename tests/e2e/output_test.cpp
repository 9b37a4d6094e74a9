// Standard output that cannot be written: a reader that went away, a full
// device, a closed descriptor. The run ends in order, the database is the
// same as after a normal run, and the status tells what happened.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e/harness.h"
#include "testing/machine.h"
#include "e2e/usage_text.h"

namespace vexlo::e2e {
namespace {

constexpr const char* kNoConfig = "no-such-config.toml";

// Enough log files for a listing far larger than the output buffer.
std::vector<TreeFile> many_logs(int count) {
  std::vector<TreeFile> files;
  for (int i = 1; i <= count; ++i) {
    files.push_back({"logs/shutdown/unsafe/crash-record-with-a-rather-long-name-" + std::to_string(i) + ".json",
                     "{\"boot_timestamp\": " + std::to_string(i) + ", \"kernel\": {\"messages\": [\"panic\"]}}"});
  }
  return files;
}

std::string listing_of(int count) {
  std::string text;
  for (int i = count; i >= 1; --i) {
    text += "[ID:" + std::to_string(i) + "] logs/shutdown/unsafe/crash-record-with-a-rather-long-name-" +
            std::to_string(i) + ".json\n";
  }
  return text;
}

std::string database_of(int count) {
  std::vector<std::pair<std::uint64_t, std::string>> entries;
  for (int i = 1; i <= count; ++i) {
    entries.emplace_back(i, "logs/shutdown/unsafe/crash-record-with-a-rather-long-name-" + std::to_string(i) + ".json");
  }
  return database_text(entries, static_cast<std::uint64_t>(count) + 1);
}

TEST(Output, LargeListingArrivesWhole) {
  constexpr int kCount = 1000;
  Sandbox sandbox;
  const auto files = many_logs(kCount);
  sandbox.write_tree(files);
  const RunResult result = sandbox.run({"--config", kNoConfig, "--log-path", "logs", "list"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_GT(result.out.size(), 70000u);  // more than the output buffer holds
  EXPECT_EQ(result.out, listing_of(kCount));
}

TEST(Output, FailingStandardOutputEndsInOrder) {
  constexpr int kCount = 1000;
  const struct {
    StdoutTarget target;
    int status;
    std::string err;
  } cases[] = {
      // The reader went away, as in "vexlo list | head -1": quiet, status 141.
      {StdoutTarget::ClosedPipe, 141, ""},
      {StdoutTarget::DevFull, 1, "vexlo: error writing output: No space left on device (os error 28)\n"},
      {StdoutTarget::Closed, 1, "vexlo: error writing output: Bad file descriptor (os error 9)\n"},
  };
  // One tree for all cases: a run over a known tree leaves the same database.
  Sandbox sandbox;
  sandbox.write_tree(many_logs(kCount));
  for (const auto& c : cases) {
    const RunResult result =
        sandbox.run({"--config", kNoConfig, "--log-path", "logs", "list"}, {.stdout_target = c.target});
    EXPECT_EQ(result.signal, 0) << result;
    EXPECT_EQ(result.status, c.status) << result;
    EXPECT_EQ(result.err, c.err);
    // The database is the one of a normal run, and no other file appeared:
    // with descriptor 1 closed, no file the tool opened took its place.
    EXPECT_TRUE(database_matches(sandbox.read(database_path("logs")), database_of(kCount), result.started_at,
                                 result.ended_at));
    auto after = sandbox.snapshot();
    after.erase("logs/.config/vexlo-db.json");
    // The log time cache is the tool's own, whole, beside the database.
    EXPECT_TRUE(after["logs/.config/vexlo-cache"].starts_with("vexlo-tc"));
    after.erase("logs/.config/vexlo-cache");
    after.erase("logs/.config");
    std::map<std::string, std::string> expected;
    for (const auto& file : many_logs(kCount)) expected[file.path] = file.content;
    for (const char* dir : {"logs", "logs/shutdown", "logs/shutdown/unsafe"}) expected[dir] = "<dir>";
    expected["logs/.config/vexlo-db.lock"] = "";  // the lock file stays empty
    EXPECT_EQ(after, expected);
  }
}

TEST(Output, ListIntoHeadEndsQuietly) {
  // "vexlo list | head -1" in a shell: head goes away after the first line
  // while the listing, far larger than a pipe holds, is still being written.
  constexpr int kCount = 3000;
  Sandbox sandbox;
  sandbox.write_tree(many_logs(kCount));
  const std::string script = std::string("\"$0\" --config ") + kNoConfig +
                             " --log-path logs list | head -1; echo \"vexlo status ${PIPESTATUS[0]}\" >&2";
  const RunResult result = sandbox.run_argv({"bash", "-c", script, binary_path()}, {.binary = "/bin/bash"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.out, listing_of(kCount).substr(0, listing_of(kCount).find('\n') + 1));
  EXPECT_EQ(result.err, "vexlo status 141\n");
  EXPECT_TRUE(database_matches(sandbox.read(database_path("logs")), database_of(kCount), result.started_at,
                               result.ended_at));
}

TEST(Output, NothingToWriteIsNoFailure) {
  for (const auto target : {StdoutTarget::ClosedPipe, StdoutTarget::DevFull, StdoutTarget::Closed}) {
    Sandbox sandbox;
    RunResult result = sandbox.run({"--config", kNoConfig, "--log-path", "logs", "list"}, {.stdout_target = target});
    EXPECT_EQ(result.status, 0) << result;
    EXPECT_EQ(result.err, "Warning: log directory logs did not exist and was created\n");
    result = sandbox.run({"help"}, {.stdout_target = target});
    EXPECT_EQ(result.status, 0) << result;
    EXPECT_EQ(result.err, usage_text("vexlo"));
  }
}

TEST(Output, ClosedStandardErrorLosesOnlyTheMessages) {
  Sandbox sandbox;
  sandbox.write({"logs/shutdown/unsafe/a.json", R"({"boot_timestamp": 5})"});
  RunResult result = sandbox.run({"bogus"}, {.close_stderr = true});
  EXPECT_EQ(result.status, 2) << result;
  EXPECT_EQ(result.out, "");

  result = sandbox.run({"--config", kNoConfig, "--log-path", "logs", "show", "7"}, {.close_stderr = true});
  EXPECT_EQ(result.status, 1) << result;
  EXPECT_EQ(result.out, "");

  result = sandbox.run({"--config", kNoConfig, "--log-path", "logs", "list"}, {.close_stderr = true});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.out, "[ID:1] logs/shutdown/unsafe/a.json\n");
  EXPECT_EQ(sandbox.snapshot().count("logs/.config/vexlo-db.json"), 1u);
}

TEST(Output, MessagesAndListingKeepTheirOrder) {
  // Standard output and standard error into one pipe, as with 2>&1.
  Sandbox sandbox;
  sandbox.write({"broken.toml", "x = \n"});
  sandbox.write({"logs/shutdown/unsafe/a.json", R"({"boot_timestamp": 5})"});
  sandbox.make_dir("logs/.config/vexlo-db.json");
  const RunResult result = sandbox.run({"--config", "broken.toml", "--log-path", "logs", "list"}, {.merge_stderr = true});
  EXPECT_EQ(result.status, 0) << result;
  const auto config_error = result.out.find("parse config error: ");
  const auto sync_error = result.out.find("sync error: Is a directory (os error 21)\n");
  const auto listing = result.out.find("[ID:0] logs/shutdown/unsafe/a.json\n");
  EXPECT_EQ(config_error, 0u) << result;
  ASSERT_NE(sync_error, std::string::npos) << result;
  ASSERT_NE(listing, std::string::npos) << result;
  EXPECT_LT(sync_error, listing);
  EXPECT_EQ(listing + 35, result.out.size());
}

// Colour reaches a terminal only: the same show on a pseudo-terminal is
// coloured, and plain with --color never.
TEST(Output, ShowIsColouredOnATerminal) {
  if (const std::string why = testing::why_no_terminal(); !why.empty()) GTEST_SKIP() << why;
  if (const char* no_colour = std::getenv("NO_COLOR"); no_colour != nullptr && *no_colour != '\0') GTEST_SKIP() << "NO_COLOR is set for the tests";
  Sandbox sandbox;
  sandbox.write({"logs/shutdown/unsafe/a.json", R"({"boot_timestamp": 5, "reason": "oops"})"});
  const std::vector<std::string> show = {"--config", kNoConfig, "--log-path", "logs", "show", "1", "--json"};
  const RunResult coloured = sandbox.run(show, {.stdout_target = StdoutTarget::Terminal});
  EXPECT_NE(coloured.out.find("\x1b[34;1m\"reason\"\x1b[0m:\x1b[0;32m\"oops\"\x1b[0m"), std::string::npos)
      << coloured;
  std::vector<std::string> plain = show;
  plain.push_back("--color");
  plain.push_back("never");
  const RunResult never = sandbox.run(plain, {.stdout_target = StdoutTarget::Terminal});
  EXPECT_EQ(never.out.find('\x1b'), std::string::npos) << never;
}

// On a terminal of known size a show taller than the screen goes through
// the pager; one that fits, --no-pager, or a size the terminal does not
// say, do not. Root gets the secure less whatever VEXLO_PAGER says. The
// less found first in PATH is a script that says how it was started.
TEST(Output, ShowIsPagedWhenTallerThanTheTerminal) {
  if (const std::string why = testing::why_no_terminal(); !why.empty()) GTEST_SKIP() << why;
  Sandbox sandbox;
  std::string items = "1";
  for (int i = 2; i <= 30; ++i) items += "," + std::to_string(i);
  sandbox.write({"logs/shutdown/unsafe/a.json", R"({"boot_timestamp": 5, "items": [)" + items + "]}"});
  sandbox.write({"bin/less", "#!/bin/sh\necho \"paged: $* LESSSECURE=$LESSSECURE\"\nexec cat\n"});
  std::filesystem::permissions(sandbox.path("bin/less"), std::filesystem::perms(0755));
  const char* path = std::getenv("PATH");
  const RunOptions options{.stdout_target = StdoutTarget::Terminal,
                           .environment = {"PATH=" + sandbox.path("bin") + ":" + (path != nullptr ? path : "/usr/bin:/bin"),
                                           "VEXLO_PAGER=less --mine", "VEXLO_PAGER_SECURE="}};
  const std::vector<std::string> show = {"--config", kNoConfig, "--log-path", "logs", "show", "1", "--pretty"};
  std::vector<std::string> unpaged_show = show;
  unpaged_show.push_back("--no-pager");
  RunOptions sized = options;
  sized.terminal_rows = 10;
  const RunResult unpaged = sandbox.run(unpaged_show, sized);
  ASSERT_EQ(unpaged.status, 0) << unpaged;
  const std::string pager = ::geteuid() == 0 ? "paged: -FRX LESSSECURE=1\n" : "paged: --mine LESSSECURE=\n";
  const struct {
    int rows;
    std::string expected;
  } cases[] = {{10, pager + unpaged.out}, {40, unpaged.out}, {0, unpaged.out}};
  for (const auto& c : cases) {
    sized.terminal_rows = c.rows;
    const RunResult result = sandbox.run(show, sized);
    EXPECT_EQ(result.status, 0) << c.rows << result;
    EXPECT_EQ(result.out, c.expected) << c.rows;
  }
}

}  // namespace
}  // namespace vexlo::e2e
