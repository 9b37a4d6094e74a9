// Log files of a gigabyte, complete and cut off mid-write. They take
// minutes and several gigabytes of disk and memory, so they run only when
// VEXLO_LONG_TESTS=1 is set (ctest -R LargeLog with that variable).

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <fstream>

#include "e2e/harness.h"

namespace vexlo::e2e {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kGigabyte = std::size_t{1} << 30;
constexpr std::string_view kHead = "{\"boot_timestamp\": 1764600000, \"pad\": \"";

bool long_tests_enabled() {
  const char* value = std::getenv("VEXLO_LONG_TESTS");
  return value != nullptr && std::string_view(value) == "1";
}

// A log file of about a gigabyte: one member holding a long string; cut
// off before its end when `complete` is false.
void write_large_log(const std::string& path, bool complete) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << kHead;
  const std::string block(1 << 20, 'x');
  for (std::size_t written = 0; written < kGigabyte; written += block.size()) file << block;
  if (complete) file << "\"}";
  ASSERT_TRUE(file.flush()) << path;
}

TEST(LargeLog, AGigabyteLogFile) {
  if (!long_tests_enabled()) GTEST_SKIP() << "set VEXLO_LONG_TESTS=1 to run the tests with 1 GB log files";
  Sandbox sandbox;
  sandbox.write({"logs/shutdown/unsafe/small.json", R"({"boot_timestamp": 1})"});
  write_large_log(sandbox.path("logs/shutdown/unsafe/huge.json"), true);
  write_large_log(sandbox.path("logs/shutdown/unsafe/partial.json"), false);
  const std::vector<std::string> root = {"--config", "none.toml", "--log-path", "logs"};
  auto args = [&](std::vector<std::string> more) {
    more.insert(more.begin(), root.begin(), root.end());
    return more;
  };

  RunResult result = sandbox.run(args({"list"}), {.timeout = 600s});
  std::cout << "list over two 1 GB files: " << result.ended_at - result.started_at << " s\n";
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.err, "");
  // The file cut off mid-write is no log file for this run.
  EXPECT_EQ(result.out, "[ID:2] logs/shutdown/unsafe/huge.json\n[ID:1] logs/shutdown/unsafe/small.json\n");

  result = sandbox.run(args({"show", "2"}), {.timeout = 600s});
  std::cout << "show of the 1 GB file: " << result.ended_at - result.started_at << " s\n";
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  const std::string head = "boot_timestamp\n1764600000\n\npad\n";
  EXPECT_EQ(result.out.size(), head.size() + kGigabyte + 2);
  EXPECT_TRUE(result.out.starts_with(head + "xxxx"));
  EXPECT_TRUE(result.out.ends_with("xxxx\n\n"));
}

}  // namespace
}  // namespace vexlo::e2e
