#pragma once
// What a run says when the database cannot be opened or brought up to date,
// said alike by the run and by each round of --follow.

#include <ostream>

#include "vexlo/common/error.h"
#include "vexlo/common/terminal_text.h"
#include "vexlo/db/database.h"

namespace vexlo {

// "Error initializing database: " and the error, then the --read-only hint
// when writing in the log root was refused.
void report_open_error(const Error& error, std::ostream& err, TerminalOutput terminals);

// "sync error: " and the error, then the same hint when the database's own
// files were refused (a scan refused a directory is not helped by reading
// alone).
void report_sync_error(const Database& database, const Error& error, std::ostream& err, TerminalOutput terminals);

// After a sync that numbered the log files of a database that may have
// been reset (see Database::may_have_been_reset): that IDs start from 1
// again, and which files below the log root look like the old database.
// Nothing when no log file was numbered.
void report_new_database(const Database& database, std::ostream& err, TerminalOutput terminals);

// "Warning: directory ... passed over: " and the reason.
void report_passed_over(const PassedOverDirectory& directory, std::ostream& err, TerminalOutput terminals);

}  // namespace vexlo
