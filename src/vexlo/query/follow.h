#pragma once
// The part of --follow that knows the listing: which log files are new
// since the listing or the last round, and printing them in its line form.

#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "vexlo/common/terminal_text.h"
#include "vexlo/db/database.h"
#include "vexlo/query/list.h"

namespace vexlo {

class NewLogPrinter {
 public:
  // The files the listing scanned, selected or not, are not new, and the
  // look-alike names it warned of are not said again.
  NewLogPrinter(ListQuery query, const ListingScan& listing);

  // Whether a round may find a new log: one of `changed` is no file seen
  // before, has the extension "json" and parses by now, opened below
  // `log_root` as the scan would take it.
  bool may_find_new(std::span<const std::string> changed, const std::string& log_root) const;
  // Whether a scan through `database` finds a file not seen before.
  bool finds_unseen(const Database& database, const std::string& log_root) const;

  // Scans `log_root` through `database` and prints, oldest first, the files
  // not seen before that the query selects; the others are only marked
  // seen. With `ids_kept`, the database has just been saved, and a file it
  // does not know (one that appeared after its scan) is left for the next
  // round; otherwise such a file is printed with ID 0 after a warning, as
  // a listing that saves nothing does, unless the query asks for IDs above
  // one: then it waits for a round that finds it numbered.
  PrintedLines print_new(const Database& database, const std::string& log_root, bool ids_kept, std::ostream& out,
                 std::ostream& err, TerminalOutput terminals);

  // From now on only logs with an ID above `id` (see ListQuery::above_id).
  void print_above(std::optional<std::uint64_t> id) { query_.above_id = id; }

 private:
  ListQuery query_;
  std::unordered_set<SharedText> seen_;  // files on disk at the last scan
  // Directories said to hold names that read alike, at the last scan, with
  // the number of files passed over in each.
  std::unordered_map<std::string, std::size_t> repeated_text_in_;
};

}  // namespace vexlo
