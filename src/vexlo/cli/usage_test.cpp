#include "vexlo/cli/usage.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace vexlo {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "text after the last newline";
  return lines;
}

TEST(PrintUsage, EntriesAndDescriptionsStandInTheirColumns) {
  const struct {
    std::size_t line;  // 1-based
    std::string_view entry;
    std::string_view description;
  } cases[] = {
      {4, "--config <path>", "Path to config file"},
      {5, "--log-path <path>", "Path to log storage directory"},
      {8, "list [filter] [--all]", "List all log files"},
      {9, "logs [count] [options]", "List recent log files"},
      {10, "show <id> [--pretty]", "Show log content by ID (default: text format)"},
      {11, "help", "Show this help message"},
      {14, "--since <time>", "Filter logs since time"},
      {15, "--before <time>", "Filter logs before time"},
      {16, "--filter <string>", "Filter logs by path string"},
  };
  std::ostringstream err;
  print_usage("vexlo", err);
  const auto lines = lines_of(err.str());
  ASSERT_EQ(lines.size(), 18u);
  EXPECT_EQ(lines[0], "Usage: vexlo [--config <config_path>] [--log-path <path>] <command> [options]");
  for (const auto& c : cases) {
    const std::string& line = lines[c.line - 1];
    ASSERT_GE(line.size(), 35u) << line;
    // Two spaces, the entry padded to 33 characters, the description from
    // the 36th character on.
    EXPECT_EQ(line.substr(0, 2), "  ");
    EXPECT_EQ(line.substr(2, c.entry.size()), c.entry);
    EXPECT_EQ(line.find_first_not_of(' ', 2 + c.entry.size()), 35u) << line;
    EXPECT_EQ(line.substr(35), c.description);
  }
}

TEST(UsageProgramName, FirstArgumentOrTheToolName) {
  const struct {
    std::vector<std::string_view> args;
    std::string_view name;
  } cases[] = {
      {{}, "vexlo"},
      {{""}, "vexlo"},
      {{"/usr/bin/vexlo"}, "/usr/bin/vexlo"},
      {{"x", "list"}, "x"},
      {{"", "help"}, "vexlo"},
  };
  for (const auto& c : cases) EXPECT_EQ(usage_program_name(c.args), c.name);
}

}  // namespace
}  // namespace vexlo
