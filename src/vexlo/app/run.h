#pragma once
// One run of the tool, from the process arguments to the exit status.

#include <ostream>
#include <span>
#include <string_view>

#include "vexlo/common/terminal_text.h"

namespace vexlo {

// Exit statuses: the command did what was asked; it could not (a log that
// cannot be shown, a database directory that cannot be made); the command
// line was not used as written (an unknown command word, a warning about an
// argument, a time expression that is not one).
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// `terminals` says which of the streams reach a terminal, where control
// characters from the log tree are shown escaped.
int run(std::span<const std::string_view> args, std::ostream& out, std::ostream& err,
        TerminalOutput terminals = {});

}  // namespace vexlo
