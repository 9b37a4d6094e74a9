// The reference of a command lists what the option tables hold, described
// from a table of its own here; an option that the tables gain without a
// description still appears, with its name and value, and the reference
// test names it.

#include "vexlo/cli/command_reference.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "vexlo/cli/argument_notes.h"
#include "vexlo/cli/command.h"

namespace vexlo {
namespace {

struct Description {
  std::string_view word;  // the command, or "" for every command
  std::string_view name;
  OptionDescription description;
};

constexpr Description kDescriptions[] = {
    {"", "--config", {"<path>", "Path to config file (default /etc/orvane/orvane-rivura.toml)"}},
    {"", "--log-path", {"<path>", "Path to log storage directory; wins over the configuration"}},
    {"", "--read-only", {"", "Write nothing; answer with the IDs the database file holds"}},
    {"", "--all", {"", "Every log file, whatever the filter"}},
    {"", "--filter", {"<string>", "Only paths that contain this text (the last filter counts)"}},
    {"", "--json", {"", "One JSON object per line: id, path, time, time_utc"}},
    {"", "--time", {"", "The time of each log between ID and path"}},
    {"", "--where", {"<condition>", "Only logs whose content meets the condition; repeatable, all must hold"}},
    {"", "--content", {"", "With --json: each line carries the log itself"}},
    {"", "--follow", {"", "After the listing, print log files that appear later, until interrupted"}},
    {"", "--fields", {"<keys>", "After the path, the value of each key of a comma-separated list; repeatable"}},
    {"", "--invalid", {"", "Instead, the .json files that are not valid JSON, and why"}},
    {"", "--cursor-file", {"<file>", "Only logs found since the ID the file records; records the highest printed"}},
    {"logs", "--since", {"<time>", "Only logs at or after this time"}},
    {"logs", "--before", {"<time>", "Only logs strictly before this time"}},
    {"logs", "--until", {"<time>", "Another name for --before"}},
    {"show", "--pretty", {"", "Indented JSON"}},
    {"show", "--json", {"", "Compact JSON on one line (--pretty wins)"}},
    {"show", "--color", {"<when>", "Colour on a terminal: auto (default), always or never; NO_COLOR turns auto off"}},
    {"show", "--no-pager", {"", "Never through a pager (by default a text taller than the terminal is paged)"}},
};

struct Summary {
  std::string_view word;
  std::string_view synopsis;
  std::string_view text;
};

constexpr Summary kSummaries[] = {
    {"list", "list [filter] [options]",
     "List the log files whose path contains filter (default: shutdown/unsafe), newest first."},
    {"logs", "logs [count] [options]",
     "List the newest log files whose path contains shutdown/unsafe, at most count of them."},
    {"show", "show <id> [options]",
     "Show the log file with this ID as dotted key paths and values, or as JSON."},
};

// The forms of a time value, all read as UTC.
constexpr std::string_view kTimeForms =
    "Time formats (UTC):\n"
    "  YYYY-MM-DD [HH:MM[:SS]]     that day at midnight, or that minute or second\n"
    "  YYYY-MM-DDTHH:MM[:SS][Z]    the same in ISO 8601, as time_utc of --json\n"
    "  now, today, yesterday       this second; midnight at the start of today or yesterday\n"
    "  -<number><unit>             so long before now, e.g. -10day, -90min, -2weeks\n"
    "  <number> <unit> ago         the same, e.g. \"2 hours ago\"\n"
    "                              units: s, sec, min, h, hour, d, day, w, week (plurals too)\n"
    "  @<seconds>                  seconds since 1970-01-01 00:00:00 UTC\n";

constexpr std::size_t kDescriptionColumn = 28;

// "  --name <value>", and the description from kDescriptionColumn on.
void print_entry(std::string entry, std::string_view text, std::ostream& out) {
  if (!text.empty()) {
    entry.resize(std::max(entry.size() + 1, kDescriptionColumn), ' ');
    entry += text;
  }
  out << entry << '\n';
}

void print_option(std::string_view word, const OptionName& option, std::ostream& out) {
  const OptionDescription description = describe_option(word, option.name);
  std::string entry = "  " + std::string(option.name);
  if (option.takes_value) entry += ' ' + std::string(description.value.empty() ? "<value>" : description.value);
  print_entry(std::move(entry), description.text, out);
}

bool reads_time(std::string_view word, const std::vector<OptionName>& options) {
  return std::ranges::any_of(options, [word](const OptionName& option) {
    return describe_option(word, option.name).value == "<time>";
  });
}

}  // namespace

OptionDescription describe_option(std::string_view word, std::string_view name) {
  for (const Description& description : kDescriptions) {
    if (description.name == name && description.word == word) return description.description;
  }
  for (const Description& description : kDescriptions) {
    if (description.name == name && description.word.empty()) return description.description;
  }
  return {};
}

void print_command_reference(std::string_view word, std::ostream& out) {
  const OptionCatalogue catalogue = option_catalogue();
  const auto command = std::ranges::find(catalogue.commands, word, &CommandOptions::word);
  const auto summary = std::ranges::find(kSummaries, word, &Summary::word);
  if (command == catalogue.commands.end() || summary == std::ranges::end(kSummaries)) return;

  // Output, like the usage text, not a message: kept in constants.
  constexpr std::string_view kUsage = "Usage: vexlo [global options] ";
  constexpr std::string_view kGlobal = "\nGlobal options (also before ";
  constexpr std::string_view kAttached = "\nAn option that takes a value also takes it as --option=value.\n";
  constexpr std::string_view kManual = "\nSee man vexlo for every command, message and exit status.\n";
  out << kUsage << summary->synopsis << "\n\n" << summary->text << "\n\nOptions:\n";
  for (const OptionName& option : command->options) print_option(word, option, out);
  out << kGlobal << word << "):\n";
  for (const OptionName& option : catalogue.global) print_option(word, option, out);
  print_entry("  --help", "Show this reference", out);
  out << kAttached;
  if (reads_time(word, command->options)) out << '\n' << kTimeForms;
  out << kManual;
}

}  // namespace vexlo
