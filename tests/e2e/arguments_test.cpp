// Arguments that are not UTF-8: never a crash, never a misread word. Paths
// reach the system as given; filters match the path texts, in which such
// bytes show as U+FFFD.

#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace vexlo::e2e {
namespace {

constexpr const char* kNoConfig = "no-such-config.toml";

TEST(Arguments, BytesThatAreNotUtf8) {
  Sandbox sandbox;
  sandbox.write({"r\xff" "oot/shutdown/unsafe/a.json", R"({"boot_timestamp": 1})"});
  sandbox.write({"r\xff" "oot/events/b.json", R"({"boot_timestamp": 2})"});
  const std::string shown_root = "r\xEF\xBF\xBDoot";
  const struct {
    std::vector<std::string> args;
    std::string out;
    int status = 0;  // 2 where an argument is dropped
  } cases[] = {
      {{"list", "--all"}, "[ID:2] " + shown_root + "/events/b.json\n[ID:1] " + shown_root + "/shutdown/unsafe/a.json\n"},
      {{"list"}, "[ID:1] " + shown_root + "/shutdown/unsafe/a.json\n"},
      {{"list", "\xff"}, "[ID:2] " + shown_root + "/events/b.json\n[ID:1] " + shown_root + "/shutdown/unsafe/a.json\n"},
      {{"list", "\xfe" "events"}, ""},
      // Begins with "--" but is not "--all": ignored, the default filter stays.
      {{"list", "--all\xff"}, "[ID:1] " + shown_root + "/shutdown/unsafe/a.json\n", 2},
      {{"logs", "1\xff"}, "[ID:1] " + shown_root + "/shutdown/unsafe/a.json\n", 2},
      {{"logs", "--since", "2024-01-01\xff", "--filter", "b.json"}, "[ID:2] " + shown_root + "/events/b.json\n", 2},
      {{"show", "\xff", "--pretty"}, "", 2},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--config", kNoConfig, "--log-path", "r\xff" "oot"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult result = sandbox.run(args);
    EXPECT_EQ(result.status, c.status) << result;
    EXPECT_EQ(result.out, c.out) << c.args[0];
  }
  // The database lies below the root as named, bytes and all.
  EXPECT_TRUE(sandbox.exists("r\xff" "oot/.config/vexlo-db.json"));
}

}  // namespace
}  // namespace vexlo::e2e
