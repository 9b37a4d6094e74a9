#pragma once
// The whole reference of one command, which "vexlo COMMAND --help" prints
// on standard output. It is made from the parser's option tables, so an
// option added there appears in it; the short usage text stays as it is.

#include <ostream>
#include <string_view>

namespace vexlo {

// Writes the reference of `word` ("list", "logs" or "show"): its options,
// the global ones, the time forms when it reads a time, and a last line
// pointing to the manual page.
void print_command_reference(std::string_view word, std::ostream& out);

// What the reference says of option `name` of command `word` (or of a
// global option, with any `word`): the name of its value ("" for a flag)
// and one line of description, which is empty when nothing is written
// for that option yet.
struct OptionDescription {
  std::string_view value;
  std::string_view text;
};
OptionDescription describe_option(std::string_view word, std::string_view name);

}  // namespace vexlo
