#include "vexlo/config/config_error.h"

#include <gtest/gtest.h>

namespace vexlo::config {
namespace {

ConfigError at(std::uint32_t line, std::uint32_t column, std::uint32_t end_line, std::uint32_t end_column) {
  return ConfigError{"the message", SourceSpan{line, column, end_line, end_column}, {"a", "b"}};
}

TEST(RenderConfigError, PositionedLayout) {
  const struct {
    const char* name;
    std::string text;
    ConfigError error;
    std::string rendered;
  } cases[] = {
      {"carets under the value", "[t]\nkey = \"yes\"\n", at(2, 7, 2, 12),
       "TOML parse error at line 2, column 7\n"
       "  |\n"
       "2 | key = \"yes\"\n"
       "  |       ^^^^^\n"
       "the message\n"},
      {"gutter widens with the line number", std::string(9, '\n') + "k = 1\n", at(10, 5, 10, 6),
       "TOML parse error at line 10, column 5\n"
       "   |\n"
       "10 | k = 1\n"
       "   |     ^\n"
       "the message\n"},
      {"columns in characters, carets in bytes", "\"é\" = \"üü\"\n", at(1, 7, 1, 11),
       "TOML parse error at line 1, column 7\n"
       "  |\n"
       "1 | \"é\" = \"üü\"\n"
       "  |       ^^^^^^\n"
       "the message\n"},
      {"carets cut at the end of the line", "s = \"\"\"ab\ncd\"\"\"\n", at(1, 5, 2, 6),
       "TOML parse error at line 1, column 5\n"
       "  |\n"
       "1 | s = \"\"\"ab\n"
       "  |     ^^^^^\n"
       "the message\n"},
      {"an empty span still gets one caret", "[\n", at(1, 2, 1, 2),
       "TOML parse error at line 1, column 2\n"
       "  |\n"
       "1 | [\n"
       "  |  ^\n"
       "the message\n"},
      {"a line ending in CR LF shows without the CR", "a = 1\r\nb = x\r\n", at(2, 5, 2, 5),
       "TOML parse error at line 2, column 5\n"
       "  |\n"
       "2 | b = x\n"
       "  |     ^\n"
       "the message\n"},
      {"a position past the last line", "a = 1\n", at(2, 1, 2, 1),
       "TOML parse error at line 2, column 1\n"
       "  |\n"
       "2 | \n"
       "  | ^\n"
       "the message\n"},
      {"a position past the newline at the end of the file", "x='''\n", at(1, 7, 1, 7),
       "TOML parse error at line 2, column 1\n"
       "  |\n"
       "2 | \n"
       "  | ^\n"
       "the message\n"},
      {"a position past the newline of an inner line", "a = 1\r\nb = 2\n", at(1, 8, 1, 9),
       "TOML parse error at line 2, column 1\n"
       "  |\n"
       "2 | b = 2\n"
       "  | ^\n"
       "the message\n"},
      {"a position past the end of the last line", "a = 1", at(1, 9, 1, 9),
       "TOML parse error at line 1, column 6\n"
       "  |\n"
       "1 | a = 1\n"
       "  |      ^\n"
       "the message\n"},
      {"control characters are not sent to the terminal", "a = 1 \x1b[2J\x07\n", at(1, 7, 1, 7),
       "TOML parse error at line 1, column 7\n"
       "  |\n"
       "1 | a = 1 \xEF\xBF\xBD[2J\xEF\xBF\xBD\n"
       "  |       ^\n"
       "the message\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(render_config_error(c.text, c.error), c.rendered) << c.name;
}

TEST(RenderConfigError, WithoutPositionNamesTheKeyPath) {
  EXPECT_EQ(render_config_error("", ConfigError{"the message", std::nullopt, {"moniter_config", "enable"}}),
            "the message\nin `moniter_config.enable`\n");
  EXPECT_EQ(render_config_error("", ConfigError{"the message", std::nullopt, {}}), "the message\n");
}

TEST(BelowKey, PrependsTheOuterKey) {
  ConfigError error{"m", std::nullopt, {"dump_oops"}};
  error = below_key(below_key(std::move(error), "efi_pstore"), "kernel_module_configs");
  EXPECT_EQ(error.key_path, (std::vector<std::string>{"kernel_module_configs", "efi_pstore", "dump_oops"}));
}

}  // namespace
}  // namespace vexlo::config
