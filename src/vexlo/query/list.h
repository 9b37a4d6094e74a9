#pragma once
// The listing behind `list` and `logs`.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "vexlo/common/terminal_text.h"
#include "vexlo/db/database.h"

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
};

// Scans `log_root` afresh through the database's log time cache, takes
// each file's ID from `database`, and prints
// the selected files newest first, one line each in the query's format, on
// `out`; warnings and a failed scan go to `err`. Paths show their control
// characters escaped on the streams that `terminals` names.
void list_log_files(const Database& database, const std::string& log_root, const ListQuery& query,
                    std::ostream& out, std::ostream& err, TerminalOutput terminals = {});

}  // namespace vexlo
