// The command-line grammar: global options, one command word, then the
// options of that command. Parsing never fails; whatever cannot be used is
// dropped, and a missing or unknown command word becomes Help.
//
// The flags added after the first release ("--read-only", "--version",
// "--json", "--time") are words that begin with "--", which the grammar
// ignored before, so no command line that worked then means anything else
// now, except that "--read-only" and "--version" before the command word
// are no longer taken for an unknown command word.
//
// An option that takes a value reads it from the next argument or, in the
// form "--option=value", from the same one.
//
// Dropping an argument keeps the grammar, but a listing without what the
// user asked for looks just like one with it, so every argument that is
// dropped, or taken as something the user probably did not mean, is said
// in a warning line before anything else the run writes.

#include "vexlo/cli/command.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vexlo/cli/argument_notes.h"
#include "vexlo/common/decimal.h"
#include "vexlo/common/terminal_text.h"
#include "vexlo/common/utf8.h"

namespace vexlo {
namespace {

using Arguments = std::span<const std::string_view>;
// Lines for standard error, in the order parsing meets their cause.
using Notes = std::vector<std::string>;

bool begins_with_dashes(std::string_view arg) { return arg.size() >= 2 && arg.starts_with("--"); }

// Path filters are matched against path texts in which bytes that are not
// UTF-8 have been replaced, so a filter is brought into the same form.
std::string filter_text(std::string_view arg) { return to_utf8_lossy(arg); }

// An option of one command, or a global one: its name, whether the next
// argument is its value (whatever that looks like), and what it sets.
template <class Target>
struct Option {
  std::string_view name;
  bool takes_value;
  void (*set)(Target& target, std::string_view value, Notes& notes);
};

template <class Target>
const Option<Target>* find_option(std::span<const Option<Target>> options, std::string_view name) {
  const auto found = std::ranges::find(options, name, &Option<Target>::name);
  return found == options.end() ? nullptr : &*found;
}

// The option of "--name=value", when `name` is one that takes a value.
template <class Target>
const Option<Target>* find_attached(std::span<const Option<Target>> options, std::string_view arg) {
  const std::size_t equals = arg.find('=');
  if (!begins_with_dashes(arg) || equals == std::string_view::npos) return nullptr;
  const Option<Target>* option = find_option(options, arg.substr(0, equals));
  return option != nullptr && option->takes_value ? option : nullptr;
}

// Of an option given twice, only the last value counts; another one that
// it replaces is said, as the user may have meant both.
void replace_value(std::string& field, bool given, std::string_view option, std::string_view value, Notes& notes) {
  if (given && field != value) {
    notes.push_back("Warning: ignoring " + std::string(option) + ' ' + quoted(field) + " (only the last " +
                    std::string(option) + " counts)");
  }
  field = std::string(value);
}

void replace_value(std::optional<std::string>& field, std::string_view option, std::string_view value, Notes& notes) {
  std::string text = field.value_or("");
  replace_value(text, field.has_value(), option, value, notes);
  field = std::move(text);
}

// The configuration path while no --config has been read: no argument can
// hold a NUL byte, so a --config that gives the default path is replaced
// with a warning like any other.
constexpr std::string_view kConfigNotGiven{"\0", 1};

// Options that may stand before or after the command word.
constexpr Option<Command> kGlobalOptions[] = {
    {"--config", true,
     [](Command& c, std::string_view value, Notes& notes) {
       replace_value(c.config_path, c.config_path != kConfigNotGiven, "--config", value, notes);
     }},
    {"--log-path", true,
     [](Command& c, std::string_view value, Notes& notes) { replace_value(c.log_path, "--log-path", value, notes); }},
    {"--read-only", false, [](Command& c, std::string_view, Notes&) { c.read_only = true; }},
};

// Only one path filter counts, the last; one that it replaces is said, as a
// user may expect two filters to narrow the selection together.
template <class Listing>
void set_filter(Listing& listing, std::string_view value, Notes& notes) {
  if (listing.filter) {
    notes.push_back("Warning: ignoring the filter " + quoted(*listing.filter) + " (only the last filter counts)");
  }
  listing.filter = filter_text(value);
}

// "--where" may be given many times: every condition counts.
template <class Listing>
void add_where(Listing& listing, std::string_view value, Notes&) {
  listing.where.emplace_back(value);
}

// "--fields KEY[,KEY...]", also given many times: the keys add up.
template <class Listing>
void add_fields(Listing& listing, std::string_view value, Notes&) {
  for (std::string_view rest = value; !rest.empty();) {
    const std::size_t comma = std::min(rest.find(','), rest.size());
    if (comma > 0) listing.fields.emplace_back(rest.substr(0, comma));
    rest.remove_prefix(std::min(comma + 1, rest.size()));
  }
}

template <class Listing>
void set_cursor_file(Listing& listing, std::string_view value, Notes& notes) {
  replace_value(listing.cursor_file, "--cursor-file", value, notes);
}

constexpr Option<ListCommand> kListOptions[] = {
    {"--filter", true, set_filter<ListCommand>},
    {"--all", false, [](ListCommand& list, std::string_view, Notes&) { list.all = true; }},
    {"--json", false, [](ListCommand& list, std::string_view, Notes&) { list.json = true; }},
    {"--time", false, [](ListCommand& list, std::string_view, Notes&) { list.time = true; }},
    {"--where", true, add_where<ListCommand>},
    {"--content", false, [](ListCommand& list, std::string_view, Notes&) { list.content = true; }},
    {"--follow", false, [](ListCommand& list, std::string_view, Notes&) { list.follow = true; }},
    {"--fields", true, add_fields<ListCommand>},
    {"--invalid", false, [](ListCommand& list, std::string_view, Notes&) { list.invalid = true; }},
    {"--cursor-file", true, set_cursor_file<ListCommand>},
};

constexpr Option<LogsCommand> kLogsOptions[] = {
    {"--since", true,
     [](LogsCommand& logs, std::string_view value, Notes& notes) { replace_value(logs.since, "--since", value, notes); }},
    {"--before", true,
     [](LogsCommand& logs, std::string_view value, Notes& notes) {
       replace_value(logs.before, "--before", value, notes);
       logs.before_name = "--before";
     }},
    {"--until", true,
     [](LogsCommand& logs, std::string_view value, Notes& notes) {
       replace_value(logs.before, "--until", value, notes);
       logs.before_name = "--until";
     }},
    {"--filter", true, set_filter<LogsCommand>},
    {"--json", false, [](LogsCommand& logs, std::string_view, Notes&) { logs.json = true; }},
    {"--time", false, [](LogsCommand& logs, std::string_view, Notes&) { logs.time = true; }},
    {"--where", true, add_where<LogsCommand>},
    {"--content", false, [](LogsCommand& logs, std::string_view, Notes&) { logs.content = true; }},
    {"--follow", false, [](LogsCommand& logs, std::string_view, Notes&) { logs.follow = true; }},
    {"--fields", true, add_fields<LogsCommand>},
    {"--invalid", false, [](LogsCommand& logs, std::string_view, Notes&) { logs.invalid = true; }},
    {"--cursor-file", true, set_cursor_file<LogsCommand>},
};

// "--color auto|always|never"; another value leaves the choice as it was.
template <class Coloured>
void set_colour(Coloured& command, std::string_view value, Notes& notes) {
  if (value == "auto") {
    command.colour = ColourChoice::Auto;
  } else if (value == "always") {
    command.colour = ColourChoice::Always;
  } else if (value == "never") {
    command.colour = ColourChoice::Never;
  } else {
    notes.push_back("Warning: ignoring --color " + quoted(value) + " (use auto, always or never)");
  }
}

constexpr Option<BrowseCommand> kBrowseOptions[] = {
    {"--filter", true, set_filter<BrowseCommand>},
    {"--all", false, [](BrowseCommand& browse, std::string_view, Notes&) { browse.all = true; }},
    {"--where", true, add_where<BrowseCommand>},
    {"--since", true,
     [](BrowseCommand& browse, std::string_view value, Notes& notes) {
       replace_value(browse.since, "--since", value, notes);
     }},
    {"--before", true,
     [](BrowseCommand& browse, std::string_view value, Notes& notes) {
       replace_value(browse.before, "--before", value, notes);
     }},
    {"--fields", true, add_fields<BrowseCommand>},
    {"--color", true, set_colour<BrowseCommand>},
};

constexpr Option<ShowCommand> kShowOptions[] = {
    {"--pretty", false, [](ShowCommand& show, std::string_view, Notes&) { show.pretty = true; }},
    {"--json", false, [](ShowCommand& show, std::string_view, Notes&) { show.json = true; }},
    {"--color", true, set_colour<ShowCommand>},
    {"--no-pager", false, [](ShowCommand& show, std::string_view, Notes&) { show.no_pager = true; }},
};

// The words that may stand in the command word's place, for "did you mean".
constexpr std::string_view kCommandPlaceWords[] = {"list",     "logs",       "show",        "browse",   "help",
                                                    "--config", "--log-path", "--read-only", "--version"};

template <class Target>
std::vector<OptionName> names_of(std::span<const Option<Target>> options) {
  std::vector<OptionName> names;
  for (const auto& option : options) names.push_back({option.name, option.takes_value});
  return names;
}

// Every option with its command, for what is said about an option given
// to the wrong command or misspelt, and for the command references.
// browse takes only options of list, logs and show, and is left out, so
// that what is said of those stays as it was.
OptionCatalogue catalogue() {
  return {names_of<Command>(kGlobalOptions),
          {{"list", names_of<ListCommand>(kListOptions)},
           {"logs", names_of<LogsCommand>(kLogsOptions)},
           {"show", names_of<ShowCommand>(kShowOptions)}},
          kCommandPlaceWords};
}

// Takes option `option` at position `i`; returns how many arguments it used.
template <class Target>
std::size_t take_option(const Option<Target>& option, Arguments args, std::size_t i, Target& target, Notes& notes) {
  if (args[i] != option.name) {
    // "--name=value"
    option.set(target, args[i].substr(option.name.size() + 1), notes);
    return 1;
  }
  if (!option.takes_value) {
    option.set(target, {}, notes);
    return 1;
  }
  if (i + 1 >= args.size()) {
    notes.push_back(missing_value(option.name));
    return 1;
  }
  option.set(target, args[i + 1], notes);
  return 2;
}

// A command's options, and what it makes of a word that is no option.
template <class Kind>
struct Grammar {
  std::string_view word;
  std::span<const Option<Kind>> options;
  // `after` is an ignored option that the user may have meant `arg` as
  // the value of, or empty.
  void (*take_word)(Kind& kind, std::string_view arg, std::string_view after, Notes& notes);
};

// The option named by `arg`, as a whole or in the form "--name=value".
template <class Target>
const Option<Target>* option_named(std::span<const Option<Target>> options, std::string_view arg) {
  const Option<Target>* option = find_option(options, arg);
  return option != nullptr ? option : find_attached(options, arg);
}

// Scans the options of a command from position `j` to the end. "--help"
// anywhere among them asks for the command's reference.
template <class Kind>
void scan_options(Arguments args, std::size_t j, const Grammar<Kind>& grammar, Kind& kind, Command& command,
                  Notes& notes, bool& reference) {
  std::string_view ignored;  // the ignored option just before, when a value may follow it
  while (j < args.size()) {
    const std::string_view arg = args[j];
    const std::string_view after = std::exchange(ignored, {});
    if (const auto* option = option_named(grammar.options, arg)) {
      j += take_option(*option, args, j, kind, notes);
    } else if (const auto* global = option_named<Command>(kGlobalOptions, arg)) {
      j += take_option(*global, args, j, command, notes);
    } else if (arg == "--help") {
      reference = true;
      ++j;
    } else if (begins_with_dashes(arg)) {
      IgnoredOption note = ignored_option(arg, grammar.word, names_of(grammar.options), catalogue());
      notes.push_back(std::move(note.note));
      if (note.value_may_follow) ignored = arg;
      ++j;
    } else {
      grammar.take_word(kind, arg, after, notes);
      ++j;
    }
  }
}

// "-a" or "-h": a short option, which vexlo has none of, rather than a
// part of a path.
bool looks_like_short_option(std::string_view arg) {
  return arg.size() >= 2 && arg[0] == '-' &&
         std::ranges::all_of(arg.substr(1), [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); });
}

// A plain word after "list" or "browse" is its path filter; a later one wins.
template <class Listing>
void take_filter_word(Listing& list, std::string_view arg, std::string_view after, Notes& notes) {
  if (!after.empty()) {
    notes.push_back("Warning: " + quoted(arg) + " is taken as the path filter, not as the value of " + quoted(after));
  } else if (looks_like_short_option(arg)) {
    notes.push_back("Warning: " + quoted(arg) + " is taken as the path filter (options begin with \"--\")");
  }
  set_filter(list, arg, notes);
}

// `logs` reads no plain word but its count.
void take_logs_word(LogsCommand&, std::string_view arg, std::string_view after, Notes& notes) {
  const std::string ignoring = "Warning: ignoring " + quoted(arg);
  if (!after.empty()) {
    notes.push_back(ignoring + " (the value of the ignored " + quoted(after) + ")");
  } else if (parse_signed_decimal(arg)) {
    notes.push_back(ignoring + " (the count stands right after logs)");
  } else {
    notes.push_back(ignoring + "; to select by path use --filter " + visible(arg));
  }
}

// `show` reads no plain word but its ID.
void take_show_word(ShowCommand&, std::string_view arg, std::string_view after, Notes& notes) {
  const std::string ignoring = "Warning: ignoring " + quoted(arg);
  if (!after.empty()) {
    notes.push_back(ignoring + " (the value of the ignored " + quoted(after) + ")");
  } else {
    notes.push_back(ignoring + " (show takes one ID, right after show)");
  }
}

constexpr Grammar<ListCommand> kListGrammar{"list", kListOptions, take_filter_word<ListCommand>};
constexpr Grammar<LogsCommand> kLogsGrammar{"logs", kLogsOptions, take_logs_word};
constexpr Grammar<ShowCommand> kShowGrammar{"show", kShowOptions, take_show_word};
constexpr Grammar<BrowseCommand> kBrowseGrammar{"browse", kBrowseOptions, take_filter_word<BrowseCommand>};

// The document of --content rides on a JSON line; other lines cannot carry it.
template <class Listing>
void check_content(const Listing& listing, Notes& notes) {
  if (listing.content && !listing.json) notes.push_back("Warning: --content is ignored without --json");
}

ListCommand parse_list(Arguments args, std::size_t start, Command& command, Notes& notes, bool& reference) {
  ListCommand list;
  scan_options(args, start, kListGrammar, list, command, notes, reference);
  check_content(list, notes);
  if (list.all && list.filter) {
    notes.push_back("Warning: the filter " + quoted(*list.filter) + " plays no part: --all lists every file");
  }
  return list;
}

LogsCommand parse_logs(Arguments args, std::size_t start, Command& command, Notes& notes, bool& reference) {
  LogsCommand logs;
  std::size_t j = start;
  // The word after "logs" is the count unless it looks like an option; it is
  // consumed even when it is not a number.
  if (j < args.size() && !begins_with_dashes(args[j])) {
    const auto count = parse_signed_decimal(args[j]);
    if (!count) notes.push_back(not_a_count(args[j]));
    logs.count = count.value_or(-1);
    ++j;
  }
  scan_options(args, j, kLogsGrammar, logs, command, notes, reference);
  check_content(logs, notes);
  return logs;
}

BrowseCommand parse_browse(Arguments args, std::size_t start, Command& command, Notes& notes) {
  BrowseCommand browse;
  // browse has no reference of its own: its options are those of list, logs and show.
  bool reference = false;
  scan_options(args, start, kBrowseGrammar, browse, command, notes, reference);
  if (reference) notes.push_back("Warning: ignoring " + quoted("--help") + " (it counts only before browse)");
  if (browse.all && browse.filter) {
    notes.push_back("Warning: the filter " + quoted(*browse.filter) + " plays no part: --all lists every file");
  }
  return browse;
}

ShowCommand parse_show(Arguments args, std::size_t start, Command& command, Notes& notes, bool& reference) {

  ShowCommand show;
  constexpr std::string_view kIdForm = " (IDs are whole numbers from 1)";
  // The word after "show" is always the ID, even when it looks like an
  // option, except "--help", which wants no ID.
  if (start < args.size() && args[start] == "--help") {
    reference = true;
    scan_options(args, start + 1, kShowGrammar, show, command, notes, reference);
    return show;
  }
  if (start >= args.size()) {
    notes.push_back("Warning: the log ID is missing after show" + std::string(kIdForm));
    return show;
  }
  const auto id = parse_unsigned_decimal(args[start]);
  if (!id) notes.push_back("Warning: " + quoted(args[start]) + " is not a log ID" + std::string(kIdForm));
  show.id = id.value_or(0);
  scan_options(args, start + 1, kShowGrammar, show, command, notes, reference);
  return show;
}

// A command word and its options; the command's reference when "--help"
// stands among them.
template <class Kind>
CommandKind command_or_reference(Kind (*parse_kind)(Arguments, std::size_t, Command&, Notes&, bool&), Arguments args,
                                 std::size_t i, Command& command, Notes& notes) {
  bool reference = false;
  Kind kind = parse_kind(args, i + 1, command, notes, reference);
  if (reference) return ReferenceCommand{std::string(args[i])};
  return kind;
}

// The command word at position `i`, and the rest of the command line.
CommandKind parse_command(Arguments args, std::size_t i, Command& command, Notes& notes) {
  const std::string_view word = args[i];
  if (word == "list") return command_or_reference(parse_list, args, i, command, notes);
  if (word == "logs") return command_or_reference(parse_logs, args, i, command, notes);
  if (word == "show") return command_or_reference(parse_show, args, i, command, notes);
  if (word == "browse") return parse_browse(args, i + 1, command, notes);
  if (word != "help" && word != "-h" && word != "--help") {
    if (auto hint = unknown_command_hint(word, catalogue())) notes.push_back(std::move(*hint));
    notes.push_back("Unknown command: " + to_utf8_lossy(word));
  }
  // Nothing after help or an unknown word is looked at: the usage follows.
  return HelpCommand{};
}

void parse_into(Arguments args, Command& command, Notes& notes) {
  std::size_t i = 1;
  while (i < args.size()) {
    if (args[i] == "--version") {
      // Nothing after it is looked at, as after "help".
      command.kind = VersionCommand{};
      return;
    }
    const auto* global = option_named<Command>(kGlobalOptions, args[i]);
    if (global == nullptr) break;
    // A global option without its value leaves no room for a command word.
    if (args[i] == global->name && global->takes_value && i + 1 >= args.size()) {
      notes.push_back(missing_value(global->name));
      return;
    }
    i += take_option(*global, args, i, command, notes);
  }
  if (i < args.size()) command.kind = parse_command(args, i, command, notes);
}

Command parse(Arguments args, Notes& notes) {
  Command command;
  command.config_path = kConfigNotGiven;
  parse_into(args, command, notes);
  if (command.config_path == kConfigNotGiven) command.config_path = kDefaultConfigPath;
  return command;
}

}  // namespace

bool option_takes_value(std::string_view name) { return takes_value_anywhere(name, catalogue()); }

OptionCatalogue option_catalogue() { return catalogue(); }

Command parse_command_line(Arguments args, std::ostream& err, bool err_is_terminal) {
  Notes notes;
  Command command = parse(args, notes);
  command.misused = !notes.empty();
  // The warnings show user text visibly already, so a terminal gets them as
  // they are, not escaped twice; the unknown command word is shown as
  // typed, except on a terminal.
  for (const std::string& note : notes) {
    if (note.starts_with("Warning: ")) {
      err << note << '\n';
    } else {
      err << Shown{note, err_is_terminal} << '\n';
    }
  }
  return command;
}

}  // namespace vexlo
