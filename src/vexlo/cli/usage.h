#pragma once
// The usage text, which help and every unknown command word print.

#include <ostream>
#include <span>
#include <string_view>

namespace vexlo {

// Writes the usage text, with `program_name` in its first line, to `err`.
void print_usage(std::string_view program_name, std::ostream& err);

// The name the usage text shows: the first process argument as received, or
// "vexlo" when there is none. An empty first argument counts as none, since
// Linux hands a program started with no arguments at all one empty argument.
std::string_view usage_program_name(std::span<const std::string_view> args);

}  // namespace vexlo
