#include "vexlo/cli/command.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace vexlo {
namespace {

using Args = std::vector<std::string_view>;

struct Parsed {
  Command command;
  std::string err;
};

// Parses the words after the program name.
Parsed parse(const Args& words) {
  Args args = {"vexlo"};
  args.insert(args.end(), words.begin(), words.end());
  std::ostringstream err;
  Command command = parse_command_line(args, err);
  return {std::move(command), err.str()};
}

std::string describe(const Command& c) {
  std::ostringstream s;
  auto opt = [](const std::optional<std::string>& v) { return v ? '"' + *v + '"' : std::string("-"); };
  s << "config=" << c.config_path << " log_path=" << opt(c.log_path) << " read_only=" << c.read_only << ' ';
  if (const auto* list = std::get_if<ListCommand>(&c.kind)) {
    s << "List filter=" << opt(list->filter) << " all=" << list->all << " json=" << list->json
      << " time=" << list->time;
  } else if (const auto* logs = std::get_if<LogsCommand>(&c.kind)) {
    s << "Logs count=" << logs->count << " since=" << opt(logs->since) << " before=" << opt(logs->before)
      << " filter=" << opt(logs->filter) << " json=" << logs->json << " time=" << logs->time;
  } else if (const auto* show = std::get_if<ShowCommand>(&c.kind)) {
    s << "Show id=" << show->id << " pretty=" << show->pretty << " json=" << show->json
      << " no_pager=" << show->no_pager;
  } else if (const auto* browse = std::get_if<BrowseCommand>(&c.kind)) {
    s << "Browse filter=" << opt(browse->filter) << " all=" << browse->all << " where=" << browse->where.size()
      << " since=" << opt(browse->since) << " before=" << opt(browse->before)
      << " fields=" << browse->fields.size() << " colour=" << static_cast<int>(browse->colour);
  } else if (std::holds_alternative<VersionCommand>(c.kind)) {
    s << "Version";
  } else if (const auto* reference = std::get_if<ReferenceCommand>(&c.kind)) {
    s << "Reference " << reference->word;
  } else {
    s << "Help";
  }
  return s.str();
}

Command command_of(CommandKind kind, std::string config = std::string(kDefaultConfigPath),
                   std::optional<std::string> log_path = std::nullopt) {
  return Command{std::move(config), std::move(log_path), std::move(kind)};
}

const Command kHelp = command_of(HelpCommand{});

struct Case {
  Args words;
  Command expected;
  std::string_view err = "";
};

std::string shown(const Args& words) {
  std::string text;
  for (const auto w : words) text += "[" + std::string(w) + "]";
  return text;
}

// The messages without the warnings, which DroppedArgumentsAreSaid checks.
std::string without_warnings(const std::string& err) {
  std::istringstream lines(err);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("Warning: ")) kept += line + '\n';
  }
  return kept;
}

// Whether the command line counts as misused is checked with the
// messages, in DroppedArgumentsAreSaid.
void check(const Case& c) {
  const Parsed parsed = parse(c.words);
  Command expected = c.expected;
  expected.misused = parsed.command.misused;
  EXPECT_EQ(describe(parsed.command), describe(expected)) << shown(c.words);
  EXPECT_EQ(parsed.command, expected) << shown(c.words);
  EXPECT_EQ(without_warnings(parsed.err), c.err) << shown(c.words);
}

TEST(ParseCommandLine, GlobalOptionsAndCommandWord) {
  const Case cases[] = {
      {{}, kHelp},
      {{"help"}, kHelp},
      {{"-h"}, kHelp},
      {{"--help"}, kHelp},
      {{"help", "list", "--config", "x"}, kHelp},  // nothing after help is looked at
      {{"--config"}, kHelp},
      {{"--log-path"}, kHelp},
      {{"--config", "x"}, command_of(HelpCommand{}, "x")},
      {{"--config", "x", "--log-path"}, command_of(HelpCommand{}, "x")},
      {{"--config", "a", "--config", "b", "list"}, command_of(ListCommand{}, "b")},
      {{"--log-path", "/l", "list"}, command_of(ListCommand{}, std::string(kDefaultConfigPath), "/l")},
      {{"--config", "--log-path", "list"}, command_of(ListCommand{}, "--log-path")},
      {{"--log-path", "", "list"}, command_of(ListCommand{}, std::string(kDefaultConfigPath), "")},
      {{"--config", "a", "list", "--config", "b"}, command_of(ListCommand{}, "b")},
      {{"--log-path", "a", "show", "1", "--log-path", "b"},
       command_of(ShowCommand{1, false}, std::string(kDefaultConfigPath), "b")},
      {{"list", "--config"}, command_of(ListCommand{})},  // standing last: ignored
      {{"help", "--config"}, kHelp},
      // A value may be attached with "=", to any option that takes one.
      {{"--log-path=l", "list"}, command_of(ListCommand{}, std::string(kDefaultConfigPath), "l")},
      {{"--config=", "list", "--log-path=a=b"}, command_of(ListCommand{}, "", "a=b")},
      {{"--config=c"}, command_of(HelpCommand{}, "c")},
      // "--help" after a command word asks for that command's reference.
      {{"list", "--help"}, command_of(ReferenceCommand{"list"})},
      {{"logs", "3", "--since", "x", "--help", "--json"}, command_of(ReferenceCommand{"logs"})},
      {{"show", "--help"}, command_of(ReferenceCommand{"show"})},
      {{"show", "2", "--pretty", "--help"}, command_of(ReferenceCommand{"show"})},
      {{"list", "--filter", "--help"}, command_of(ListCommand{"--help"})},
  };
  for (const auto& c : cases) check(c);
}

TEST(ParseCommandLine, UnknownWordsAreReported) {
  const Case cases[] = {
      {{"--all", "list"}, kHelp, "Unknown command: --all\n"},
      {{"LIST"}, kHelp, "Unknown command: LIST\n"},
      {{"List"}, kHelp, "Unknown command: List\n"},
      {{"lists"}, kHelp, "Unknown command: lists\n"},
      {{""}, kHelp, "Unknown command: \n"},
      {{"-x", "--log-path", "y"}, kHelp, "Unknown command: -x\n"},
      {{"--config", "c", "bogus", "list"}, command_of(HelpCommand{}, "c"), "Unknown command: bogus\n"},
      {{"--"}, kHelp, "Unknown command: --\n"},
      // Bytes that are not UTF-8 never match a word; the message shows them
      // replaced.
      {{"list\xff"}, kHelp, "Unknown command: list\xEF\xBF\xBD\n"},
      {{"\xc3"}, kHelp, "Unknown command: \xEF\xBF\xBD\n"},
  };
  for (const auto& c : cases) check(c);
}

TEST(ParseCommandLine, List) {
  using L = ListCommand;
  const Case cases[] = {
      {{"list"}, command_of(L{})},
      {{"list", "foo"}, command_of(L{"foo", false})},
      {{"list", "foo", "bar"}, command_of(L{"bar", false})},
      {{"list", "--filter", "foo"}, command_of(L{"foo", false})},
      {{"list", "foo", "--filter", "bar"}, command_of(L{"bar", false})},
      {{"list", "--filter", "bar", "foo"}, command_of(L{"foo", false})},
      {{"list", "foo", "--all"}, command_of(L{"foo", true})},
      {{"list", "--all", "--all"}, command_of(L{std::nullopt, true})},
      {{"list", "--bogus"}, command_of(L{})},
      {{"list", "--"}, command_of(L{})},
      {{"list", "--filter"}, command_of(L{})},
      {{"list", "--filter", "--all"}, command_of(L{"--all", false})},  // a value may begin with "--"
      {{"list", ""}, command_of(L{"", false})},
      {{"list", "-"}, command_of(L{"-", false})},
      {{"list", "-x"}, command_of(L{"-x", false})},
      {{"list", "--config", "/tmp/a.toml"}, command_of(L{}, "/tmp/a.toml")},
      {{"list", "--log-path", "--all"}, command_of(L{}, std::string(kDefaultConfigPath), "--all")},
      {{"list", "--log-path"}, command_of(L{})},
      {{"list", "help"}, command_of(L{"help", false})},
      {{"list", "a\xff"}, command_of(L{"a\xEF\xBF\xBD", false})},
      {{"list", "--filter", "\xff"}, command_of(L{"\xEF\xBF\xBD", false})},
      {{"list", "--fields", "a,,b.c,", "--fields", "d"}, command_of([] {
         L list;
         list.fields = {"a", "b.c", "d"};
         return list;
       }())},
      {{"list", "--fields", ","}, command_of(L{})},
      {{"list", "--invalid"}, command_of([] {
         L list;
         list.invalid = true;
         return list;
       }())},
  };
  for (const auto& c : cases) check(c);
}

TEST(ParseCommandLine, Logs) {
  auto logs = [](std::int64_t count, std::optional<std::string> since = std::nullopt,
                 std::optional<std::string> before = std::nullopt,
                 std::optional<std::string> filter = std::nullopt) {
    return command_of(LogsCommand{count, std::move(since), std::move(before), std::move(filter)});
  };
  const Case cases[] = {
      {{"logs"}, logs(-1)},
      {{"logs", "5"}, logs(5)},
      {{"logs", "+5"}, logs(5)},
      {{"logs", "-5"}, logs(-5)},
      {{"logs", "007"}, logs(7)},
      {{"logs", "-1"}, logs(-1)},
      {{"logs", "0"}, logs(0)},
      {{"logs", "-9223372036854775808"}, logs(std::numeric_limits<std::int64_t>::min())},
      {{"logs", "9223372036854775807"}, logs(std::numeric_limits<std::int64_t>::max())},
      {{"logs", "9223372036854775808"}, logs(-1)},
      {{"logs", "12345678901234567890"}, logs(-1)},
      {{"logs", "abc", "--since", "-2day"}, logs(-1, "-2day")},
      {{"logs", "-10day"}, logs(-1)},
      {{"logs", "--since", "2024-01-01", "10"}, logs(-1, "2024-01-01")},
      {{"logs", "--filter"}, logs(-1)},
      {{"logs", "3", "4"}, logs(3)},
      {{"logs", "", "--before", "x"}, logs(-1, std::nullopt, "x")},
      {{"logs", "-", "--before", "x"}, logs(-1, std::nullopt, "x")},
      {{"logs", "--", "5"}, logs(-1)},
      {{"logs", "--since", "--before", "x"}, logs(-1, "--before")},
      {{"logs", "2", "--since", "a", "--since", "b"}, logs(2, "b")},
      {{"logs", "2", "--before", "b", "--filter", "f", "--all", "--pretty"}, logs(2, std::nullopt, "b", "f")},
      {{"logs", "--filter", "shutdown", "--since"}, logs(-1, std::nullopt, std::nullopt, "shutdown")},
      {{"logs", "--filter", "\xfe"}, logs(-1, std::nullopt, std::nullopt, "\xEF\xBF\xBD")},
      {{"logs", "1", "--since", "\xfe"}, logs(1, "\xfe")},
      {{"logs", "--config", "c", "1"}, command_of(LogsCommand{}, "c")},
      {{"logs", "1", "--log-path", "p"}, command_of(LogsCommand{1, {}, {}, {}}, std::string(kDefaultConfigPath), "p")},
      {{"logs", "--since=2025-12-03", "--before=", "--filter=a=b"}, logs(-1, "2025-12-03", "", "a=b")},
      {{"logs", "--until", "x"}, command_of([] {
         LogsCommand until;
         until.before = "x";
         until.before_name = "--until";
         return until;
       }())},
      {{"logs", "--until=x", "--before", "y"}, logs(-1, std::nullopt, "y")},
  };
  for (const auto& c : cases) check(c);
}

// The filter line of the view reads the same words.
TEST(ParseCommandLine, Browse) {
  using B = BrowseCommand;
  const Case cases[] = {
      {{"browse"}, command_of(B{})},
      {{"browse", "crash", "--all"}, command_of(B{"crash", true})},
      {{"browse", "--where", "a=1", "--where", "b", "x"}, command_of(B{"x", false, {"a=1", "b"}})},
      {{"browse", "--since", "-2day", "--before", "2025-01-01"},
       command_of(B{std::nullopt, false, {}, "-2day", "2025-01-01"})},
      {{"browse", "--pretty", "p"}, command_of(B{"p", false})},
      {{"browse", "--fields", "a,b", "--fields=c", "--color", "never"},
       command_of(B{std::nullopt, false, {}, {}, {}, {"a", "b", "c"}, ColourChoice::Never})},
  };
  for (const auto& c : cases) check(c);
}

TEST(ParseCommandLine, Show) {
  auto show = [](std::uint64_t id, bool pretty) { return command_of(ShowCommand{id, pretty}); };
  const Case cases[] = {
      {{"show"}, show(0, false)},
      {{"show", "12"}, show(12, false)},
      {{"show", "12", "--pretty"}, show(12, true)},
      {{"show", "1", "--color", "never"}, command_of(ShowCommand{1, false, false, ColourChoice::Never})},
      {{"show", "1", "--color", "always", "--color", "red"}, command_of(ShowCommand{1, false, false, ColourChoice::Always})},
      {{"show", "1", "--no-pager"}, command_of(ShowCommand{1, false, false, ColourChoice::Auto, true})},
      {{"show", "--pretty", "12"}, show(0, false)},
      {{"show", "--pretty", "--pretty"}, show(0, true)},
      {{"show", "-3"}, show(0, false)},
      {{"show", "+3"}, show(3, false)},
      {{"show", "0003"}, show(3, false)},
      {{"show", "18446744073709551615"}, show(18446744073709551615u, false)},
      {{"show", "18446744073709551616"}, show(0, false)},
      {{"show", "1x"}, show(0, false)},
      {{"show", ""}, show(0, false)},
      {{"show", "5", "7"}, show(5, false)},
      {{"show", "5", "--filter", "x"}, show(5, false)},
      {{"show", "--config", "c"}, show(0, false)},  // the ID position swallows "--config"
      {{"show", "1", "--config", "c"}, command_of(ShowCommand{1, false}, "c")},
      {{"show", "1", "--config", "--pretty"}, command_of(ShowCommand{1, false}, "--pretty")},
      {{"show", "1", "--log-path"}, show(1, false)},
  };
  for (const auto& c : cases) check(c);
}

// --read-only may stand before or after the command word; --version only
// before it, and then nothing after it counts.
TEST(ParseCommandLine, ReadOnlyAndVersion) {
  auto read_only = [](Command command) {
    command.read_only = true;
    return command;
  };
  const Command version = command_of(VersionCommand{});
  const Case cases[] = {
      {{"--read-only", "list"}, read_only(command_of(ListCommand{}))},
      {{"list", "--read-only"}, read_only(command_of(ListCommand{}))},
      {{"--config", "c", "--read-only", "--log-path", "l", "list"}, read_only(command_of(ListCommand{}, "c", "l"))},
      {{"--read-only", "--read-only", "logs", "3"}, read_only(command_of(LogsCommand{3, {}, {}, {}}))},
      {{"logs", "--read-only", "3"}, read_only(command_of(LogsCommand{}))},  // not a count after an option
      {{"logs", "3", "--read-only"}, read_only(command_of(LogsCommand{3, {}, {}, {}}))},
      {{"show", "4", "--read-only"}, read_only(command_of(ShowCommand{4}))},
      // The word after "show" is the ID, whatever it is.
      {{"show", "--read-only", "4"}, command_of(ShowCommand{0})},
      {{"--read-only"}, read_only(command_of(HelpCommand{}))},
      {{"--read-only", "help"}, read_only(command_of(HelpCommand{}))},
      {{"list", "--filter", "--read-only"}, command_of(ListCommand{"--read-only"})},
      {{"--config", "--read-only", "list"}, command_of(ListCommand{}, "--read-only")},
      {{"--READ-ONLY", "list"}, kHelp, "Unknown command: --READ-ONLY\n"},
      {{"--version"}, version},
      {{"--version", "list", "--bogus"}, version},
      {{"--version", "--config"}, version},
      {{"--config", "c", "--version"}, command_of(VersionCommand{}, "c")},
      {{"--read-only", "--version"}, read_only(command_of(VersionCommand{}))},
      {{"--config", "--version"}, command_of(HelpCommand{}, "--version")},  // the value of --config
      {{"list", "--version"}, command_of(ListCommand{})},  // after the command word: ignored
      {{"help", "--version"}, kHelp},
      {{"-V"}, kHelp, "Unknown command: -V\n"},
  };
  for (const auto& c : cases) check(c);
}

TEST(ParseCommandLine, OutputForms) {
  auto list = [](bool json, bool time, std::optional<std::string> filter = std::nullopt) {
    return command_of(ListCommand{std::move(filter), false, json, time});
  };
  auto logs = [](std::int64_t count, bool json, bool time) {
    return command_of(LogsCommand{count, std::nullopt, std::nullopt, std::nullopt, json, time});
  };
  auto show = [](std::uint64_t id, bool pretty, bool json) { return command_of(ShowCommand{id, pretty, json}); };
  const Case cases[] = {
      {{"list", "--json"}, list(true, false)},
      {{"list", "--time"}, list(false, true)},
      {{"list", "--time", "x", "--json"}, list(true, true, "x")},
      {{"list", "--filter", "--json"}, list(false, false, "--json")},
      {{"list", "--JSON"}, list(false, false)},
      {{"logs", "--json"}, logs(-1, true, false)},
      {{"logs", "2", "--time"}, logs(2, false, true)},
      {{"logs", "--time", "2"}, logs(-1, false, true)},
      {{"logs", "--since", "--json"}, command_of(LogsCommand{-1, "--json", {}, {}})},
      {{"show", "3", "--json"}, show(3, false, true)},
      {{"show", "3", "--json", "--pretty"}, show(3, true, true)},
      {{"show", "3", "--time"}, show(3, false, false)},
      {{"show", "--json"}, show(0, false, false)},
  };
  for (const auto& c : cases) check(c);
}

// Every argument that is dropped, or taken as what the user probably did
// not mean, is said in one line, in order, before anything else.
TEST(ParseCommandLine, DroppedArgumentsAreSaid) {
  const struct {
    Args words;
    std::vector<std::string> lines;
  } cases[] = {
      {{"--config", "c", "list", "a", "--json", "--log-path", "l", "--read-only"}, {}},
      {{"logs", "2", "--since", "-1day", "--before", "x", "--filter", "", "--time"}, {}},
      {{"show", "4", "--pretty", "--json"}, {}},
      {{"show", "4", "--jsno"}, {R"(Warning: ignoring "--jsno"; did you mean --json?)"}},
      {{"list", "--prety"}, {R"(Warning: ignoring "--prety"; did you mean --pretty? (show takes --pretty, list does not))"}},
      {{"show", "1", "--bogus"}, {R"(Warning: ignoring "--bogus" (show takes --pretty, --json, --color or --no-pager))"}},
      {{"lst"}, {R"(Warning: "lst" is not a command; did you mean list?)", "Unknown command: lst"}},
      {{"--config"}, {"Warning: --config has no value and is ignored"}},
      {{"logs", "--filter"}, {"Warning: --filter has no value and is ignored"}},
      {{"logs", "--since=2025-12-03", "--log-path=l"}, {}},
      {{"list", "--all=1"}, {R"(Warning: ignoring "--all=1"; did you mean --all?)"}},
      {{"logs", "--until", "a", "--until", "b"}, {R"(Warning: ignoring --until "a" (only the last --until counts))"}},
      {{"list", "--since", "2025-12-04"},
       {R"(Warning: ignoring "--since" (logs takes --since, list does not))",
        R"(Warning: "2025-12-04" is taken as the path filter, not as the value of "--since")"}},
      {{"list", "a", "--filter", "b"}, {R"(Warning: ignoring the filter "a" (only the last filter counts))"}},
      {{"--config", "a", "--log-path", "b", "logs", "--since", "c", "--since", "d", "--before", "e", "--before", "f",
        "--log-path", "g", "--config", "h"},
       {R"(Warning: ignoring --since "c" (only the last --since counts))",
        R"(Warning: ignoring --before "e" (only the last --before counts))",
        R"(Warning: ignoring --log-path "b" (only the last --log-path counts))",
        R"(Warning: ignoring --config "a" (only the last --config counts))"}},
      {{"--config", kDefaultConfigPath, "list", "--config", "b"},
       {"Warning: ignoring --config \"" + std::string(kDefaultConfigPath) + "\" (only the last --config counts)"}},
      {{"list", "a", "--all"}, {R"(Warning: the filter "a" plays no part: --all lists every file)"}},
      {{"list", "--version"}, {R"(Warning: ignoring "--version" (it counts only before list))"}},
      {{"logs", "events"}, {R"(Warning: "events" is not a count and is ignored; to select by path use --filter events)"}},
      {{"logs", "-10day"}, {R"(Warning: "-10day" is not a count and is ignored; for a time bound use --since -10day)"}},
      {{"logs", "99999999999999999999"}, {R"(Warning: "99999999999999999999" is not a count and is ignored (it is out of range))"}},
      {{"logs", "-n", "5"},
       {R"(Warning: "-n" is not a count and is ignored (a count is a whole number))",
        R"(Warning: ignoring "5" (the count stands right after logs))"}},
      {{"logs", "--limit", "5", "x"},
       {R"(Warning: ignoring "--limit" (logs takes --since, --before, --until, --filter, --json, --time, --where, )"
        R"(--content, --follow, --fields, --invalid or --cursor-file))",
        R"(Warning: ignoring "5" (the count stands right after logs))",
        R"(Warning: ignoring "x"; to select by path use --filter x)"}},
      {{"logs", "--sinse", "x"},
       {R"(Warning: ignoring "--sinse"; did you mean --since?)", R"(Warning: ignoring "x" (the value of the ignored "--sinse"))"}},
      {{"list", "--content"}, {"Warning: --content is ignored without --json"}},
      {{"show", "1", "--color", "red"}, {R"(Warning: ignoring --color "red" (use auto, always or never))"}},
      {{"list", "-a", "-", "-1764"}, {R"(Warning: "-a" is taken as the path filter (options begin with "--"))",
                                      R"(Warning: ignoring the filter "-a" (only the last filter counts))",
                                      R"(Warning: ignoring the filter "-" (only the last filter counts))"}},
      {{"show"}, {"Warning: the log ID is missing after show (IDs are whole numbers from 1)"}},
      {{"show", "23abc"}, {R"(Warning: "23abc" is not a log ID (IDs are whole numbers from 1))"}},
      {{"show", "--pretty", "12"},
       {R"(Warning: "--pretty" is not a log ID (IDs are whole numbers from 1))",
        R"(Warning: ignoring "12" (show takes one ID, right after show))"}},
      // What the user typed is shown without control characters.
      {{"show", "\x1b[2J\xff"}, {"Warning: \"\\x1b[2J\xEF\xBF\xBD\" is not a log ID (IDs are whole numbers from 1)"}},
  };
  for (const auto& c : cases) {
    std::string expected;
    for (const auto& line : c.lines) expected += line + '\n';
    const Parsed parsed = parse(c.words);
    EXPECT_EQ(parsed.err, expected) << shown(c.words);
    EXPECT_EQ(parsed.command.misused, !c.lines.empty()) << shown(c.words);
  }
}

}  // namespace
}  // namespace vexlo
