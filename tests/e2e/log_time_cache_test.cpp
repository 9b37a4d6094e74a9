// The log time cache beside the database, seen from outside: it changes
// nothing that a run prints or saves, whatever state it is in, it is
// rewritten only when a run learned something new, and never through a
// link.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "e2e/harness.h"

namespace vexlo::e2e {
namespace {

constexpr const char* kNoConfig = "/nonexistent/vexlo-e2e.toml";
constexpr const char* kCache = "logs/.config/vexlo-cache";

std::vector<TreeFile> sample_logs() {
  return {
      {"logs/shutdown/unsafe/a.json", R"({"boot_timestamp": 300})"},
      {"logs/shutdown/unsafe/b.json", R"({"boot_timestamp": 100})"},
      {"logs/events/c.json", R"({"level": "info"})", 1700000000},
      {"logs/events/partial.json", R"({"boot_timestamp": 5, "ev)"},
  };
}

RunResult list_all(const Sandbox& sandbox) {
  return sandbox.run({"--config", kNoConfig, "--log-path", "logs", "list", "--all"});
}

std::string without_last_sync(const std::string& database) {
  const auto start = database.find("\"last_sync\"");
  if (start == std::string::npos) return database;
  return database.substr(0, start) + database.substr(database.find('\n', start));
}

struct stat status_of(const Sandbox& sandbox, const char* relative) {
  struct stat sb {};
  EXPECT_EQ(::lstat(sandbox.path(relative).c_str(), &sb), 0) << relative;
  return sb;
}

TEST(LogTimeCache, WhateverItHoldsTheRunPrintsAndSavesTheSame) {
  const struct {
    const char* name;
    std::string content;  // of the cache file before the second run
  } cases[] = {
      {"as the first run left it", ""},
      {"empty", "="},
      {"another version", "vexlo-tc\x02"},
      {"garbage", std::string(5000, 'x')},
  };
  for (const auto& c : cases) {
    Sandbox sandbox;
    sandbox.write_tree(sample_logs());
    const RunResult first = list_all(sandbox);
    ASSERT_EQ(first.status, 0) << first;
    ASSERT_TRUE(sandbox.read(kCache).starts_with("vexlo-tc")) << c.name;
    const std::string database = sandbox.read(database_path("logs"));
    if (!c.content.empty()) sandbox.write({kCache, c.content == "=" ? "" : c.content});

    const RunResult second = list_all(sandbox);
    EXPECT_EQ(second.out, first.out) << c.name;
    EXPECT_EQ(second.err, "") << c.name;
    EXPECT_EQ(second.status, 0) << c.name;
    EXPECT_EQ(without_last_sync(sandbox.read(database_path("logs"))), without_last_sync(database)) << c.name;
    EXPECT_TRUE(sandbox.read(kCache).starts_with("vexlo-tc")) << c.name << ": rebuilt";
  }
}

TEST(LogTimeCache, RewrittenOnlyWhenARunLearnedSomethingNew) {
  Sandbox sandbox;
  // Files older than the time step of their file system, so that the
  // cache trusts them from the first run on.
  std::vector<TreeFile> files = sample_logs();
  sandbox.write_tree(files);
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  ASSERT_EQ(list_all(sandbox).status, 0);
  const struct stat written = status_of(sandbox, kCache);

  ASSERT_EQ(list_all(sandbox).status, 0);
  const struct stat unchanged = status_of(sandbox, kCache);
  EXPECT_EQ(unchanged.st_ino, written.st_ino) << "nothing new: the cache stays as it is";
  EXPECT_EQ(unchanged.st_mtim.tv_nsec, written.st_mtim.tv_nsec);

  sandbox.write({"logs/events/new.json", R"({"boot_timestamp": 200})"});
  const RunResult after_new = list_all(sandbox);
  EXPECT_NE(status_of(sandbox, kCache).st_ino, written.st_ino) << "a new file: the cache is replaced";
  EXPECT_NE(after_new.out.find("new.json"), std::string::npos) << after_new;
}

TEST(LogTimeCache, ALinkInItsPlaceIsReplacedNotFollowed) {
  Sandbox sandbox;
  sandbox.write_tree(sample_logs());
  sandbox.write({"victim", "precious"});
  ASSERT_EQ(::chmod(sandbox.path("victim").c_str(), 04755), 0);
  sandbox.make_dir("logs/.config");
  ASSERT_EQ(::symlink(sandbox.path("victim").c_str(), sandbox.path(kCache).c_str()), 0);
  const RunResult result = list_all(sandbox);
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(sandbox.read("victim"), "precious");
  EXPECT_TRUE(S_ISREG(status_of(sandbox, kCache).st_mode));
  EXPECT_EQ(status_of(sandbox, "victim").st_mode & 07777, 04755u);
  EXPECT_EQ(status_of(sandbox, kCache).st_mode & 07777, 0600u) << "nothing taken over from the link's target";
}

TEST(LogTimeCache, ReadOnlyRunsUseItAndNeverWriteIt) {
  Sandbox sandbox;
  sandbox.write_tree(sample_logs());
  ASSERT_EQ(list_all(sandbox).status, 0);
  sandbox.write({"logs/events/new.json", R"({"boot_timestamp": 200})"});
  sandbox.write({"logs/shutdown/unsafe/a.json", R"({"boot_timestamp": 50})"});
  const auto before = sandbox.snapshot();
  const RunResult result =
      sandbox.run({"--config", kNoConfig, "--log-path", "logs", "--read-only", "list", "--all"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(sandbox.snapshot(), before) << "the cache, stale now, stays as it was";
  // The file the cache knows in another state is read again: its new time
  // puts it last.
  EXPECT_NE(result.out.find("b.json"), std::string::npos) << result;
  EXPECT_LT(result.out.find("b.json"), result.out.find("a.json")) << result;
}

TEST(LogTimeCache, HelpTouchesNothing) {
  Sandbox sandbox;
  sandbox.write_tree(sample_logs());
  const auto before = sandbox.snapshot();
  ASSERT_EQ(sandbox.run({"--log-path", "logs", "help"}).status, 0);
  EXPECT_EQ(sandbox.snapshot(), before);
}

}  // namespace
}  // namespace vexlo::e2e
