#pragma once
// One run of the tool, from the process arguments to the exit status.

#include <ostream>
#include <span>
#include <string_view>

#include "vexlo/common/terminal_text.h"

namespace vexlo {

// `terminals` says which of the streams reach a terminal, where control
// characters from the log tree are shown escaped.
int run(std::span<const std::string_view> args, std::ostream& out, std::ostream& err,
        TerminalOutput terminals = {});

}  // namespace vexlo
