#pragma once
// The parsed command line: two global options and one command.

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace vexlo {

inline constexpr std::string_view kDefaultConfigPath = "/etc/orvane/orvane-rivura.toml";

struct ListCommand {
  std::optional<std::string> filter;
  bool all = false;
};

struct LogsCommand {
  std::int64_t count = -1;  // -1: no limit
  std::optional<std::string> since;
  std::optional<std::string> before;
  std::optional<std::string> filter;
};

struct ShowCommand {
  std::uint64_t id = 0;
  bool pretty = false;
};

struct HelpCommand {};

using CommandKind = std::variant<HelpCommand, ListCommand, LogsCommand, ShowCommand>;

struct Command {
  std::string config_path = std::string(kDefaultConfigPath);
  std::optional<std::string> log_path;
  CommandKind kind = HelpCommand{};
};

// Never fails. `args` is the full argument list of the process (element 0,
// the program name, is skipped). An unrecognised command word is reported
// on `err` and yields Help.
Command parse_command_line(std::span<const std::string_view> args, std::ostream& err);

// Writes the usage text, with `program_name` in its first line, to `err`.
void print_usage(std::string_view program_name, std::ostream& err);

}  // namespace vexlo
