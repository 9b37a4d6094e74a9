// The command-line grammar: global options, one command word, then the
// options of that command. Parsing never fails; whatever cannot be used is
// dropped, and a missing or unknown command word becomes Help.
//
// The flags added after the first release ("--read-only", "--version",
// "--json", "--time") are words that begin with "--", which the grammar
// ignored before, so no command line that worked then means anything else
// now, except that "--read-only" and "--version" before the command word
// are no longer taken for an unknown command word.

#include "vexlo/cli/command.h"

#include "vexlo/common/decimal.h"
#include "vexlo/common/utf8.h"

namespace vexlo {
namespace {

using Arguments = std::span<const std::string_view>;

bool begins_with_dashes(std::string_view arg) { return arg.size() >= 2 && arg.starts_with("--"); }

// The value of option `name` at position `i`: the next argument, whatever it
// looks like. No value when `args[i]` is another word or stands last.
std::optional<std::string_view> option_value(Arguments args, std::size_t i, std::string_view name) {
  if (args[i] != name || i + 1 >= args.size()) return std::nullopt;
  return args[i + 1];
}

// Path filters are matched against path texts in which bytes that are not
// UTF-8 have been replaced, so a filter is brought into the same form.
std::string filter_text(std::string_view arg) { return to_utf8_lossy(arg); }

// Takes "--config <path>" or "--log-path <path>" at position `i`.
bool take_global_option(Arguments args, std::size_t i, Command& command) {
  if (const auto value = option_value(args, i, "--config")) {
    command.config_path = std::string(*value);
    return true;
  }
  if (const auto value = option_value(args, i, "--log-path")) {
    command.log_path = std::string(*value);
    return true;
  }
  return false;
}

// Takes the global flag "--read-only", which may stand anywhere.
bool take_global_flag(std::string_view arg, Command& command) {
  if (arg != "--read-only") return false;
  command.read_only = true;
  return true;
}

// Takes "--json" or "--time", the output forms of `list` and `logs`.
template <class Listing>
bool take_listing_flag(std::string_view arg, Listing& listing) {
  if (arg == "--json") {
    listing.json = true;
  } else if (arg == "--time") {
    listing.time = true;
  } else {
    return false;
  }
  return true;
}

ListCommand parse_list(Arguments args, std::size_t start, Command& command) {
  ListCommand list;
  for (std::size_t j = start; j < args.size();) {
    if (take_global_option(args, j, command)) {
      j += 2;
    } else if (const auto value = option_value(args, j, "--filter")) {
      list.filter = filter_text(*value);
      j += 2;
    } else {
      if (args[j] == "--all") {
        list.all = true;
      } else if (!begins_with_dashes(args[j])) {
        list.filter = filter_text(args[j]);  // positional filter; a later one wins
      } else if (!take_global_flag(args[j], command)) {
        take_listing_flag(args[j], list);  // any other option is ignored
      }
      ++j;
    }
  }
  return list;
}

// Sets the option of `logs` at position `i` if it is one with a value.
bool take_logs_option(Arguments args, std::size_t i, LogsCommand& logs) {
  if (const auto value = option_value(args, i, "--since")) {
    logs.since = std::string(*value);
  } else if (const auto value = option_value(args, i, "--before")) {
    logs.before = std::string(*value);
  } else if (const auto value = option_value(args, i, "--filter")) {
    logs.filter = filter_text(*value);
  } else {
    return false;
  }
  return true;
}

LogsCommand parse_logs(Arguments args, std::size_t start, Command& command) {
  LogsCommand logs;
  std::size_t j = start;
  // The word after "logs" is the count unless it looks like an option; it is
  // consumed even when it is not a number.
  if (j < args.size() && !begins_with_dashes(args[j])) {
    logs.count = parse_signed_decimal(args[j]).value_or(-1);
    ++j;
  }
  while (j < args.size()) {
    if (take_global_option(args, j, command) || take_logs_option(args, j, logs)) {
      j += 2;
    } else {
      // A flag is taken; any other word is ignored.
      if (!take_global_flag(args[j], command)) take_listing_flag(args[j], logs);
      ++j;
    }
  }
  return logs;
}

ShowCommand parse_show(Arguments args, std::size_t start, Command& command) {
  ShowCommand show;
  // The word after "show" is always the ID, even when it looks like an option.
  if (start < args.size()) show.id = parse_unsigned_decimal(args[start]).value_or(0);
  for (std::size_t j = start + 1; j < args.size();) {
    if (take_global_option(args, j, command)) {
      j += 2;
    } else {
      if (args[j] == "--pretty") show.pretty = true;
      if (args[j] == "--json") show.json = true;
      take_global_flag(args[j], command);
      ++j;
    }
  }
  return show;
}

}  // namespace

Command parse_command_line(Arguments args, std::ostream& err) {
  Command command;
  std::size_t i = 1;
  for (; i < args.size(); ++i) {
    if (args[i] == "--version") {
      // Nothing after it is looked at, as after "help".
      command.kind = VersionCommand{};
      return command;
    }
    if (take_global_flag(args[i], command)) continue;
    if (args[i] != "--config" && args[i] != "--log-path") break;
    // A global option without its value leaves no room for a command word.
    if (!take_global_option(args, i, command)) return command;
    ++i;
  }
  if (i >= args.size()) return command;

  const std::string_view word = args[i];
  if (word == "list") {
    command.kind = parse_list(args, i + 1, command);
  } else if (word == "logs") {
    command.kind = parse_logs(args, i + 1, command);
  } else if (word == "show") {
    command.kind = parse_show(args, i + 1, command);
  } else if (word != "help" && word != "-h" && word != "--help") {
    err << "Unknown command: " << to_utf8_lossy(word) << '\n';
  }
  return command;
}

}  // namespace vexlo
