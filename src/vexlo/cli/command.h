#pragma once
// The parsed command line: the global options and one command.

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vexlo/common/colour.h"

namespace vexlo {

inline constexpr std::string_view kDefaultConfigPath = "/etc/orvane/orvane-rivura.toml";

struct ListCommand {
  std::optional<std::string> filter;
  bool all = false;
  bool json = false;  // one JSON object per line
  bool time = false;  // the time between ID and path
  std::vector<std::string> where = {};  // "--where" conditions, as typed
  bool content = false;                 // with json: each line carries the log
  bool follow = false;                  // keep printing logs that appear later
  std::vector<std::string> fields = {};  // "--fields" keys, every one given
  bool invalid = false;                  // the files that are not valid JSON instead
  std::optional<std::string> cursor_file = {};  // only logs found since the ID it records

  bool operator==(const ListCommand&) const = default;
};

struct LogsCommand {
  std::int64_t count = -1;  // -1: no limit
  std::optional<std::string> since;
  std::optional<std::string> before;
  std::optional<std::string> filter;
  bool json = false;
  bool time = false;
  std::vector<std::string> where = {};
  bool content = false;
  bool follow = false;
  std::vector<std::string> fields = {};
  bool invalid = false;
  std::optional<std::string> cursor_file = {};
  // The name under which `before` was given, "--before" or "--until", for
  // what is said about its value.
  std::string_view before_name = "--before";

  bool operator==(const LogsCommand&) const = default;
};

struct ShowCommand {
  std::uint64_t id = 0;
  bool pretty = false;
  bool json = false;  // compact JSON on one line, unless pretty
  ColourChoice colour = ColourChoice::Auto;  // "--color"
  bool no_pager = false;                     // "--no-pager"

  bool operator==(const ShowCommand&) const = default;
};

// The interactive view: the selection of `list` and `logs` at once, also
// what its filter line takes.
struct BrowseCommand {
  std::optional<std::string> filter;
  bool all = false;
  std::vector<std::string> where = {};
  std::optional<std::string> since = {};
  std::optional<std::string> before = {};
  std::vector<std::string> fields = {};       // shown after the path of each row
  ColourChoice colour = ColourChoice::Auto;  // of the preview, as show's "--color"

  bool operator==(const BrowseCommand&) const = default;
};

struct HelpCommand {
  bool operator==(const HelpCommand&) const = default;
};

// "--version" before the command word.
struct VersionCommand {
  bool operator==(const VersionCommand&) const = default;
};

// "--help" after a command word: that command's whole reference.
struct ReferenceCommand {
  std::string word;

  bool operator==(const ReferenceCommand&) const = default;
};

using CommandKind = std::variant<HelpCommand, ListCommand, LogsCommand, ShowCommand, VersionCommand, BrowseCommand,
                                 ReferenceCommand>;

struct Command {
  std::string config_path = std::string(kDefaultConfigPath);
  std::optional<std::string> log_path;
  CommandKind kind = HelpCommand{};
  // "--read-only", before or after the command word: nothing is written.
  bool read_only = false;
  // A line was said about the command line (a warning, or an unknown
  // command word): it was not used as written.
  bool misused = false;

  bool operator==(const Command&) const = default;
};

// Never fails. `args` is the full argument list of the process (element 0,
// the program name, is skipped). An unrecognised command word is reported
// on `err` and yields Help. Every argument that is dropped, or taken in a
// way the user probably did not mean, gets one "Warning: " line on `err`,
// in the order of the arguments; user text in warnings is UTF-8 without
// control characters, and when `err_is_terminal` so is the word of
// "Unknown command: ".
//
// Arguments are byte strings. Words and options are compared byte for byte,
// so an argument that is not UTF-8 never matches one; paths and time
// expressions are kept as received; path filters and the word in the
// "Unknown command: " message are made valid UTF-8 (invalid bytes become
// U+FFFD), the form in which scanned paths are matched and printed.
Command parse_command_line(std::span<const std::string_view> args, std::ostream& err,
                           bool err_is_terminal = false);

// Whether `name` is an option, of any command or global, that takes the
// next argument as its value.
bool option_takes_value(std::string_view name);

// Every option the parser reads, from its option tables.
struct OptionCatalogue;
OptionCatalogue option_catalogue();

}  // namespace vexlo
