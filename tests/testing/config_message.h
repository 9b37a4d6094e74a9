#pragma once
// The shape of the "parse config error: " report, checked independently of
// the code that writes it: by the conformance tests and by the fuzzer.

#include <string>
#include <string_view>

namespace vexlo::testing {

// Empty when `output` is one well-formed report about the configuration
// text `file_text`; otherwise what is wrong with it.
//
// A well-formed report is "parse config error: ", the error text and "\n",
// where the error text is either the five lines of a positioned error
// (header with line L and column K, gutter, line L of the file, caret run
// under column K, message) or a message line optionally followed by an
// "in `key.path`" line; every line ends with "\n" and none holds a control
// character other than a tab.
std::string check_config_message(std::string_view output, std::string_view file_text);

// Like check_config_message, and the error must carry a position.
std::string check_positioned_config_message(std::string_view output, std::string_view file_text);

}  // namespace vexlo::testing
