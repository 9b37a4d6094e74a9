#pragma once
// The listing behind `list` and `logs`.

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vexlo/common/terminal_text.h"
#include "vexlo/db/database.h"
#include "vexlo/db/log_scan.h"
#include "vexlo/query/where.h"

namespace vexlo {

inline constexpr std::string_view kDefaultPathFilter = "shutdown/unsafe";

// How each selected file is printed, one line each.
enum class ListFormat {
  Text,  // [ID:7] logroot/a.json
  Time,  // [ID:7] 2025-12-04 23:01:50 logroot/a.json
  Json,  // {"id":7,"path":"logroot/a.json","time":1764889310,"time_utc":"2025-12-04T23:01:50Z"}
};

struct ListQuery {
  std::string filter;                 // empty: every path
  std::optional<std::int64_t> since;  // inclusive
  std::optional<std::int64_t> before;  // exclusive
  std::int64_t limit = -1;            // -1: no limit; 0 or any other negative: no lines
  ListFormat format = ListFormat::Text;
  // Conditions on each log's content; every one must hold. A log that
  // cannot be read or parsed matches none.
  std::vector<WhereCondition> where = {};
  // With the JSON format: each line carries the log's document as a last
  // member "log" (null when it cannot be read).
  bool content = false;
  // Keys whose values follow the path on each line (--fields).
  std::vector<std::string> fields = {};
  // The lines oldest first, as a listing that goes on with newer logs below
  // it prints them; the limit still keeps the newest.
  bool oldest_first = false;
  // Only logs with an ID above this one (a log without an ID has none).
  std::optional<std::uint64_t> above_id = std::nullopt;
};

// What a listing printed: how many lines, and the highest ID among them.
struct PrintedLines {
  std::size_t lines = 0;
  std::uint64_t highest_id = 0;
};

// Scans `log_root` afresh through the database's log time cache, takes
// each file's ID from `database`, and prints
// the selected files newest first, one line each in the query's format, on
// `out`; warnings and a failed scan go to `err`. Paths show their control
// characters escaped on the streams that `terminals` names. With
// `listing`, what the scan met is kept there.
struct ListingScan {
  std::vector<SharedText> paths;              // every scanned file, selected or not, when kept
  bool keep_paths = true;                     // false: paths stays empty (nothing follows the listing)
  std::vector<std::string> repeated_text_in;  // directories said to hold names that read alike
  std::vector<std::string> unreadable;        // "json" files that could not be read or parsed
};
PrintedLines list_log_files(const Database& database, const std::string& log_root, const ListQuery& query,
                    std::ostream& out, std::ostream& err, TerminalOutput terminals = {},
                    ListingScan* listing = nullptr);

// The scan and selection of list_log_files without the printing: the files
// that the path filter and the time bounds select, with their IDs, newest
// first, and the names on disk of those whose path is not UTF-8; no value
// when the scan failed. The warnings are the listing's. The query's limit
// and content conditions are not applied.
struct Selection {
  std::vector<FileEntry> entries;
  SystemPaths system_paths;
};
std::optional<Selection> select_log_files(const Database& database, const std::string& log_root,
                                          const ListQuery& query, std::ostream& err, TerminalOutput terminals = {},
                                          ListingScan* listing = nullptr);

// The entries whose content meets every condition of the query, in their
// order, each read below `log_root` as show opens it (through
// `system_paths` where its path is not UTF-8).
std::vector<FileEntry> keep_matching_content(std::vector<FileEntry> entries, const ListQuery& query,
                                             const std::string& log_root, const SystemPaths* system_paths = nullptr);

// "Warning: Two file names in DIRECTORY read as the same path; ...".
void report_repeated_text(const std::string& directory, std::ostream& err, TerminalOutput terminals);

// Scans `log_root` through `database` for a listing; a failed scan is
// reported on `err` ("Error traversing ...") and gives false.
bool scan_for_listing(const Database& database, const std::string& log_root, std::vector<FileEntry>& entries,
                      ScanNotes& notes, std::ostream& err, TerminalOutput terminals);

// Whether the path filter and the time bounds of `query` select the entry.
bool is_selected(const FileEntry& entry, const ListQuery& query);

// Prints the entries in their order, one line each, at most `max_lines` of
// them, leaving out those whose content fails the query's conditions; the
// content is read only when the query asks for it, from below `log_root`
// through the links the scan follows, and through the bytes in
// `system_paths` of a path that is not UTF-8.
PrintedLines print_entries(std::span<const FileEntry> entries, const ListQuery& query, const std::string& log_root,
                          std::size_t max_lines,
                          std::ostream& out, std::ostream& err, TerminalOutput terminals = {},
                          const SystemPaths* system_paths = nullptr);

}  // namespace vexlo
