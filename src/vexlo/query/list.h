#pragma once
// The listing behind `list` and `logs`.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "vexlo/cli/command.h"
#include "vexlo/db/database.h"

namespace vexlo {

inline constexpr std::string_view kDefaultPathFilter = "shutdown/unsafe";

struct ListQuery {
  std::string filter;                 // empty: every path
  std::optional<std::int64_t> since;  // inclusive
  std::optional<std::int64_t> before;  // exclusive
  std::int64_t limit = -1;            // -1: no limit; 0 or any other negative: no lines
};

ListQuery make_list_query(const ListCommand& command);
// Evaluates the time expressions, so it is called after the synchronisation.
ListQuery make_logs_query(const LogsCommand& command);

// Scans `log_root` afresh, takes each file's ID from `database`, and prints
// the selected files newest first, one "[ID:<id>] <path>" line each, on
// `out`; warnings and a failed scan go to `err`.
void list_log_files(const Database& database, const std::string& log_root, const ListQuery& query,
                    std::ostream& out, std::ostream& err);

}  // namespace vexlo
