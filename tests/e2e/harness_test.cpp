// The harness itself: hung runs are killed, the working directory and the
// argument vector reach the program as given.

#include "e2e/harness.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vexlo::e2e {
namespace {

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
