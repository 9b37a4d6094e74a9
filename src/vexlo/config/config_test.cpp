#include "vexlo/config/config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "testing/child_process.h"
#include "testing/machine.h"
#include "testing/temp_dir.h"

namespace vexlo {
namespace {

struct Loaded {
  Config config;
  std::string output;
};

Loaded load(const std::string& path) {
  std::ostringstream out;
  Config config = load_config(path, out);
  return {std::move(config), out.str()};
}

Loaded load_text(std::string_view text) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "vexlo.toml", text);
  return load(dir / "vexlo.toml");
}

TEST(LoadConfig, UnreadableFilesGiveTheDefaultsSilently) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "invalid-utf8.toml", "log_root_path = \"/srv/\xC3\x28\"\n");
  testing::write_file(dir / "empty.toml", "");
  testing::make_dirs(dir / "directory.toml");
  for (const char* name : {"missing.toml", "invalid-utf8.toml", "empty.toml", "directory.toml"}) {
    const Loaded loaded = load(dir / name);
    EXPECT_EQ(loaded.output, "") << name;
    EXPECT_EQ(loaded.config, default_config()) << name;
  }
}

TEST(LoadConfig, FileWithoutReadPermission) {
  testing::ScopedTempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  if (const std::string why = testing::why_no_second_user(dir.path()); !why.empty()) GTEST_SKIP() << why;
  const std::string path = dir / "locked.toml";
  testing::write_file(path, "log_root_path = 1\n");
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  std::string why;
  const auto result = testing::run_unprivileged(
      [&] {
        if (std::ifstream(path).is_open()) return std::string("the permission bits do not bind this user");
        const Loaded loaded = load(path);
        return "output: " + loaded.output + (loaded.config == default_config() ? " defaults" : " changed");
      },
      &why);
  ASSERT_TRUE(result) << why;
  EXPECT_EQ(*result, "output:  defaults");
}

TEST(LoadConfig, WrongValueReportedOnStandardOutputWithEmptyLine) {
  const Loaded loaded = load_text("log_root_path = \"/srv/logs\"\n[moniter_config]\nenable = \"yes\"\n");
  EXPECT_EQ(loaded.output,
            "parse config error: TOML parse error at line 3, column 10\n"
            "  |\n"
            "3 | enable = \"yes\"\n"
            "  |          ^^^^^\n"
            "invalid type: string \"yes\", expected a boolean\n"
            "\n");
  EXPECT_EQ(loaded.config, default_config());
}

TEST(LoadConfig, NothingOfABrokenFileSurvives) {
  const Loaded loaded = load_text("log_root_path = \"/srv/logs\"\n[log_retention]\nmax_age_days = -1\n");
  EXPECT_TRUE(loaded.output.ends_with("\ninvalid value: integer `-1`, expected u32\n\n")) << loaded.output;
  EXPECT_EQ(loaded.config.log_root_path, "/var/log/orvane");
}

TEST(LoadConfig, ByteOrderMarkIsSkipped) {
  const std::string mark = "\xEF\xBB\xBF";
  EXPECT_EQ(load_text(mark + "log_root_path = \"/srv/logs\"\n").config.log_root_path, "/srv/logs");
  EXPECT_EQ(load_text(mark + "reporters = 1\n").output,
            "parse config error: TOML parse error at line 1, column 13\n"
            "  |\n"
            "1 | reporters = 1\n"
            "  |             ^\n"
            "invalid type: integer `1`, expected a string\n"
            "\n");
  // Only one mark is skipped; a second one is text, and wrong there.
  EXPECT_TRUE(load_text(mark + mark + "a = 1\n")
                  .output.starts_with("parse config error: TOML parse error at line 1, column 1\n"));
}

// Syntax errors carry the parser's own description; the layout around it
// is ours.
TEST(LoadConfig, SyntaxErrorsArePositioned) {
  const struct {
    const char* document;
    const char* header;
    const char* source_line;
  } cases[] = {
      {"log_root_path = /var/log\n", "line 1, column 17", "1 | log_root_path = /var/log"},
      {"[moniter_config]\nenable = true\nenable = false\n", "line 3, column 10", "3 | enable = false"},
      // Left unchecked, this input aborts a parser built with assertions.
      {"[\n", "line 1, column 2", "1 | ["},
      {"[", "line 1, column 2", "1 | ["},
      // Integers are held as signed 64-bit values.
      {"moniter_config.cache_mb = 9223372036854775808\n", "line 1, column 46",
       "1 | moniter_config.cache_mb = 9223372036854775808"},
      {"a = tru\nb = 1\n", "line 1, column 8", "1 | a = tru"},
  };
  for (const auto& c : cases) {
    const Loaded loaded = load_text(c.document);
    EXPECT_TRUE(loaded.output.starts_with(std::string("parse config error: TOML parse error at ") + c.header + "\n"))
        << loaded.output;
    EXPECT_NE(loaded.output.find(std::string("\n") + c.source_line + "\n"), std::string::npos) << loaded.output;
    // Five lines of error text and the empty line, whatever the parser's
    // description holds.
    EXPECT_EQ(std::count(loaded.output.begin(), loaded.output.end(), '\n'), 6) << loaded.output;
    EXPECT_TRUE(loaded.output.ends_with("\n\n")) << loaded.output;
    EXPECT_EQ(loaded.config, default_config()) << c.document;
  }
}

}  // namespace
}  // namespace vexlo
