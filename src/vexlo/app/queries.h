#pragma once
// The queries of `list`, `logs` and `show`, built from the parsed command
// line, so that the query library knows nothing of the command line.

#include <ostream>

#include "vexlo/cli/command.h"
#include "vexlo/query/list.h"
#include "vexlo/query/show.h"

namespace vexlo {

ListQuery make_list_query(const ListCommand& command);

// Evaluates the time expressions, so it is called after the
// synchronisation. A bound whose expression yields no instant is left out,
// a warning on `err` says so, with the characters that reorder or hide
// text escaped too when `err_is_terminal`, and `bound_dropped` is set.
struct LogsQuery {
  ListQuery query;
  bool bound_dropped = false;
};
LogsQuery make_logs_query(const LogsCommand& command, std::ostream& err, bool err_is_terminal = false);

// The selection of `browse` and of its filter line: the path filter and
// --all as `list` takes them, the time bounds as `logs` does (evaluated
// now, with the same warnings, escaped for a terminal).
ListQuery make_browse_query(const BrowseCommand& command, std::ostream& err);

// --pretty asks for the indented layout and wins over --json, which asks
// for JSON only: both give the indented JSON.
ShowFormat show_format(const ShowCommand& command);

}  // namespace vexlo
