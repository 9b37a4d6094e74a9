// The reports of real misfits pass the shape check that the conformance
// test and the configuration fuzzer rely on, and damaged reports fail it,
// so that the check can catch a malformed report at all.

#include <gtest/gtest.h>

#include <sstream>

#include "testing/config_message.h"
#include "testing/temp_dir.h"
#include "vexlo/config/config.h"

namespace vexlo {
namespace {

std::string report_for(const std::string& text) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "vexlo.toml", text);
  std::ostringstream out;
  (void)load_config(dir / "vexlo.toml", out);
  return out.str();
}

TEST(ConfigReportShape, RealReportsAreWellFormed) {
  const char* const texts[] = {
      "[moniter_config]\nenable = true\nenable = \"yes\"\n",
      "[moniter_config]\nfoo = 1\nenable = \"yes\"\n",
      "log_root_path = /var/log\n",
      "[log_retention]\nmax_age_days = -1\n",
      "moniter_config.pressure_log_steps = [1, -2]\n",
      "x = \"\xC3\xA9\xC3\xA9\" \x01\n",
      "\xEF\xBB\xBF" "log_root_path = 2\n",
      "a = [[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[",
      "x = \"unterminated\n",
      "x='\'\'\n",
  };
  for (const char* text : texts) {
    const std::string report = report_for(text);
    ASSERT_FALSE(report.empty()) << text;
    EXPECT_EQ(testing::check_config_message(report, text), "") << text << "\n" << report;
  }
}

TEST(ConfigReportShape, DamagedReportsAreCaught) {
  const std::string text = "[moniter_config]\nenable = 1\n\"yes\"\n";
  const std::string good =
      "parse config error: TOML parse error at line 2, column 10\n"
      "  |\n"
      "2 | enable = 1\n"
      "  |          ^\n"
      "invalid type: integer `1`, expected a boolean\n"
      "\n";
  ASSERT_EQ(testing::check_positioned_config_message(good, text), "");
  const std::string cases[] = {
      "TOML parse error at line 2, column 10\n  |\n2 | enable = 1\n  |          ^\nmsg\n\n",
      "parse config error: TOML parse error at line 2, column 10\n  |\n2 | enable = 1\n  |          ^\nmsg\n",
      "parse config error: TOML parse error at line 02, column 10\n  |\n2 | enable = 1\n  |          ^\nmsg\n\n",
      "parse config error: TOML parse error at line 2, column 10\n |\n2 | enable = 1\n  |          ^\nmsg\n\n",
      "parse config error: TOML parse error at line 2, column 10\n  |\n2 | enable = 12\n  |          ^\nmsg\n\n",
      "parse config error: TOML parse error at line 2, column 10\n  |\n2 | enable = 1\n  |         ^\nmsg\n\n",
      "parse config error: TOML parse error at line 2, column 10\n  |\n2 | enable = 1\n  |          ^^\nmsg\n\n",
      "parse config error: TOML parse error at line 2, column 13\n  |\n2 | enable = 1\n  |             ^\nmsg\n\n",
      "parse config error: TOML parse error at line 9, column 1\n  |\n9 | \n  | ^\nmsg\n\n",
      "parse config error: TOML parse error at line 2, column 10\n  |\n2 | enable = 1\n  |          ^\n\n\n",
      "parse config error: TOML parse error at line 2, column 10\n  |\n2 | enable = 1\n  |          ^\n\n",
      "parse config error: a\x01message\n\n",
      "parse config error: message\nin moniter_config\n\n",
      "parse config error: message\nin `a`\nmore\n\n",
      "parse config error: \n\n",
  };
  for (const auto& report : cases) {
    EXPECT_NE(testing::check_config_message(report, text), "") << report;
  }
  EXPECT_NE(testing::check_positioned_config_message("parse config error: message\n\n", text), "");
  EXPECT_EQ(testing::check_config_message("parse config error: message\nin `moniter_config.enable`\n\n", text), "");
}

}  // namespace
}  // namespace vexlo
