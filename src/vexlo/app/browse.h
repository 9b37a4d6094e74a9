#pragma once
// `browse`: the interactive view over the logs that `list` and `logs`
// select, run on the terminal.

#include <ostream>
#include <string>

#include "vexlo/cli/command.h"
#include "vexlo/common/terminal_text.h"
#include "vexlo/db/database.h"

namespace vexlo {

// The message and exit status of `browse` without a terminal.
inline constexpr std::string_view kBrowseNeedsTerminal =
    "Error: browse needs a terminal on standard input and standard output";
inline constexpr int kBrowseNeedsTerminalStatus = 2;

// Whether the standard input and output are a terminal the view can use.
bool can_browse();

// The words after `browse` that give the selection of `command`, as the
// filter line shows them.
std::string browse_filter_line(const BrowseCommand& command);

// Runs the view until the user quits or a stop signal comes; returns the
// exit status. With `live`, logs that appear meanwhile are added. With
// `colour`, the preview is coloured as show colours it.
int browse_logs(const BrowseCommand& command, const Database& database, const std::string& log_root,
                class BrowseLive* live, bool colour, std::ostream& err);

}  // namespace vexlo
