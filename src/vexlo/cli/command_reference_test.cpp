#include "vexlo/cli/command_reference.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "testing/source_tree.h"
#include "testing/temp_dir.h"
#include "vexlo/cli/argument_notes.h"
#include "vexlo/cli/command.h"

namespace vexlo {
namespace {

// The text from the line after `start` up to the line `end`.
std::string between(const std::string& text, const std::string& start, const std::string& end) {
  const std::size_t from = text.find(start);
  if (from == std::string::npos) return {};
  const std::size_t begin = text.find('\n', from + start.size()) + 1;
  return text.substr(begin, text.find(end, begin) - begin);
}

// The line of `text` that begins with `prefix`.
std::string line_of(const std::string& text, const std::string& prefix) {
  const std::size_t at = text.starts_with(prefix) ? 0 : text.find('\n' + prefix);
  if (at == std::string::npos) return {};
  const std::size_t begin = at == 0 ? 0 : at + 1;
  return text.substr(begin, text.find('\n', begin) - begin);
}

// The SYNOPSIS entry (".SY" to ".YS") of command `word`.
std::string synopsis_of(const std::string& synopsis, std::string_view word) {
  for (std::size_t at = synopsis.find(".SY"); at != std::string::npos; at = synopsis.find(".SY", at + 1)) {
    const std::string entry = synopsis.substr(at, synopsis.find(".YS", at) - at);
    if (entry.contains("\n.B " + std::string(word) + '\n')) return entry;
  }
  return {};
}

// Whether `name` stands in `text` as a whole option name.
bool names(const std::string& text, const std::string& name) {
  for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
    const char after = at + name.size() < text.size() ? text[at + name.size()] : ' ';
    if (!(after >= 'a' && after <= 'z') && after != '-' && after != '\\') return true;
  }
  return false;
}

// "\-\-log\-path", as the manual page writes "--log-path".
std::string troff(std::string_view name) {
  std::string text;
  for (const char c : name) text += c == '-' ? std::string("\\-") : std::string(1, c);
  return text;
}

// Every option of the parser's tables is described in the command's
// reference, in the README's "In short" block and in the manual page's
// SYNOPSIS: an option added to a table and to none of them fails here.
TEST(CommandReference, HoldsEveryOptionOfTheTables) {
  const std::string readme = testing::read_file(testing::source_dir() + "/README.md");
  const std::string in_short = between(readme, "In short:\n\n```", "```");
  const std::string man = testing::read_file(testing::source_dir() + "/man/vexlo.1");
  const std::string synopsis = between(man, ".SH SYNOPSIS", ".SH DESCRIPTION");
  const OptionCatalogue catalogue = option_catalogue();
  ASSERT_FALSE(in_short.empty());
  for (const CommandOptions& command : catalogue.commands) {
    const std::string word(command.word);
    std::ostringstream out;
    print_command_reference(word, out);
    const std::string reference = out.str();
    EXPECT_TRUE(reference.ends_with("See man vexlo for every command, message and exit status.\n")) << reference;
    const std::string entry = synopsis_of(synopsis, word);
    const std::string readme_options = line_of(in_short, word + " options:");
    std::vector<std::pair<OptionName, std::string>> options;  // with where the README names it
    for (const OptionName& option : command.options) options.emplace_back(option, readme_options);
    for (const OptionName& option : catalogue.global) options.emplace_back(option, line_of(in_short, "vexlo "));
    for (const auto& [option, readme_line] : options) {
      const std::string name(option.name);
      const OptionDescription description = describe_option(word, name);
      EXPECT_FALSE(description.text.empty()) << word << ' ' << name << ": no line in kDescriptions";
      EXPECT_EQ(description.value.empty(), !option.takes_value) << word << ' ' << name;
      const std::string value = option.takes_value ? ' ' + std::string(description.value) : "";
      EXPECT_TRUE(reference.contains("\n  " + name + value + "  ")) << word << ' ' << name << '\n' << reference;
      EXPECT_TRUE(names(readme_line, name)) << "README, In short, " << word << ": " << name;
      EXPECT_TRUE(names(entry, troff(name))) << "man page, SYNOPSIS, " << word << ": " << name;
    }
  }
}

TEST(CommandReference, TimeFormsOnlyWhereATimeIsRead) {
  for (const std::string_view word : {"list", "logs", "show"}) {
    std::ostringstream out;
    print_command_reference(word, out);
    EXPECT_EQ(out.str().contains("Time formats (UTC):\n"), word == "logs") << word;
  }
}

}  // namespace
}  // namespace vexlo
