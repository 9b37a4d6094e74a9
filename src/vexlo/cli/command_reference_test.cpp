#include "vexlo/cli/command_reference.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "testing/source_tree.h"
#include "testing/temp_dir.h"
#include "vexlo/cli/argument_notes.h"
#include "vexlo/cli/command.h"

namespace vexlo {
namespace {

// The part of `text` after `start` up to `end`.
std::string between(const std::string& text, const std::string& start, const std::string& end) {
  const std::size_t begin = text.find(start) + start.size();
  return text.find(start) == std::string::npos ? "" : text.substr(begin, text.find(end, begin) - begin);
}

// Whether `name` stands in `text` as a whole option name.
bool names(const std::string& text, const std::string& name) {
  for (const char after : {' ', '\n', ']'}) {
    if ((text + '\n').contains(name + after)) return true;
  }
  return false;
}

// Every option of the parser's tables is described in the command's
// reference, in the README's "In short" block and in the manual page's
// SYNOPSIS: an option added to a table and to none of them fails here.
TEST(CommandReference, HoldsEveryOptionOfTheTables) {
  const std::string in_short = between(testing::read_file(testing::source_dir() + "/README.md"), "In short:\n\n```\n", "```\n");
  const std::string synopsis =
      between(testing::read_file(testing::source_dir() + "/man/vexlo.1"), ".SH SYNOPSIS\n", ".SH DESCRIPTION");
  const OptionCatalogue catalogue = option_catalogue();
  for (const CommandOptions& command : catalogue.commands) {
    const std::string word(command.word);
    std::ostringstream out;
    print_command_reference(word, out);
    EXPECT_TRUE(out.str().ends_with("See man vexlo for every command, message and exit status.\n")) << out.str();
    // The ".SY" to ".YS" entry of the command.
    const std::size_t at = synopsis.find("\n.B " + word + '\n');
    const std::size_t sy = synopsis.rfind(".SY", at);
    const std::string entry = at == std::string::npos ? "" : synopsis.substr(sy, synopsis.find(".YS", at) - sy);
    for (const auto& [options, readme] : {std::pair{command.options, between(in_short, word + " options:", "\n")},
                                          std::pair{catalogue.global, in_short.substr(0, in_short.find('\n'))}}) {
      for (const OptionName& option : options) {
        const std::string name(option.name);
        const OptionDescription description = describe_option(word, name);
        EXPECT_FALSE(description.text.empty()) << word << ' ' << name << ": no line in kDescriptions";
        EXPECT_EQ(description.value.empty(), !option.takes_value) << word << ' ' << name;
        const std::string value = option.takes_value ? ' ' + std::string(description.value) : "";
        EXPECT_TRUE(out.str().contains("\n  " + name + value + "  ")) << word << ' ' << name;
        EXPECT_TRUE(names(readme, name)) << "README, In short, " << word << ": " << name;
        std::string troff;  // "\-\-log\-path"
        for (const char c : name) troff += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_TRUE(names(entry, troff)) << "man page, SYNOPSIS, " << word << ": " << name;
      }
    }
  }
}

}  // namespace
}  // namespace vexlo
