// The harness itself: hung runs are killed, the working directory and the
// argument vector reach the program as given.

#include "e2e/harness.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <stdexcept>

#include "testing/child_process.h"
#include "testing/machine.h"

namespace vexlo::e2e {
namespace {

// The one way the tests drop privileges (testing/child_process.h) leaves no way back: real,
// effective and saved IDs all change, and the supplementary groups go.
TEST(Harness, UnprivilegedChildCannotRegainRoot) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can drop privileges";
  if (const std::string why = testing::why_no_second_user("/"); !why.empty()) GTEST_SKIP() << why;
  std::string why;
  const auto ids = testing::run_unprivileged(
      [] {
        uid_t ruid, euid, suid;
        gid_t rgid, egid, sgid;
        ::getresuid(&ruid, &euid, &suid);
        ::getresgid(&rgid, &egid, &sgid);
        const bool regained = ::setuid(0) == 0 || ::seteuid(0) == 0;
        return std::to_string(ruid) + " " + std::to_string(euid) + " " + std::to_string(suid) + " " +
               std::to_string(rgid) + " " + std::to_string(egid) + " " + std::to_string(sgid) + " groups " +
               std::to_string(::getgroups(0, nullptr)) + (regained ? " regained" : "");
      },
      &why);
  ASSERT_TRUE(ids) << why;
  EXPECT_EQ(*ids, "65534 65534 65534 65534 65534 65534 groups 0");
  // This process keeps its privileges.
  EXPECT_EQ(::geteuid(), 0u);
}

TEST(Harness, ChildFailuresAreReportedNotRaised) {
  const struct {
    std::function<std::string()> body;
    const char* why;
  } cases[] = {
      {[]() -> std::string { throw std::runtime_error("x"); }, "child process threw an exception: x"},
      {[]() -> std::string { ::_exit(9); }, "child process failed with status 9"},
      {[]() -> std::string {
         ::kill(::getpid(), SIGKILL);
         return "";
       },
       "child process was killed by signal 9"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_FALSE(testing::run_in_child(c.body, false, &why));
    EXPECT_EQ(why, c.why);
  }
}

TEST(Harness, HungRunIsKilledAtTheTimeout) {
  Sandbox sandbox;
  const auto start = std::chrono::steady_clock::now();
  const RunResult result = sandbox.run_argv(
      {"sleep", "30"}, {.timeout = std::chrono::milliseconds(300), .binary = "/bin/sleep"});
  EXPECT_TRUE(result.timed_out);
  EXPECT_EQ(result.signal, SIGKILL);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(Harness, RunsInTheWorkingDirectoryWithTheArgumentsGiven) {
  Sandbox sandbox;
  sandbox.make_dir("sub dir");
  const RunResult result =
      sandbox.run_argv({"pwd", "-P"}, {.working_directory = "sub dir", .binary = "/bin/pwd"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.out, std::filesystem::canonical(sandbox.path("sub dir")).string() + "\n");
}

TEST(Harness, DatabaseComparisonChecksTheClockWindow) {
  const std::string expected = database_text({{1, "a\"b"}}, 2);
  const std::string actual =
      "{\n  \"files\": [\n    {\n      \"id\": 1,\n      \"path\": \"a\\\"b\"\n    }\n  ],\n"
      "  \"last_sync\": 1000,\n  \"next_file_id\": 2\n}";
  EXPECT_TRUE(database_matches(actual, expected, 1000, 1001));
  EXPECT_FALSE(database_matches(actual, expected, 1001, 1002));
  EXPECT_FALSE(database_matches(actual, database_text({{1, "a\"b"}}, 3), 999, 1000));
  EXPECT_FALSE(database_matches(actual + "\n", expected, 999, 1000));
}

}  // namespace
}  // namespace vexlo::e2e
