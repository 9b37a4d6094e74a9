#pragma once
// The listing behind `list` and `logs`.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "vexlo/cli/command.h"
#include "vexlo/db/database.h"

namespace vexlo {

inline constexpr std::string_view kDefaultPathFilter = "shutdown/unsafe";

struct ListQuery {
  std::string filter;                 // empty: every path
  std::optional<std::int64_t> since;  // inclusive
  std::optional<std::int64_t> before;  // exclusive
  std::int64_t limit = -1;            // -1: no limit
};

ListQuery make_list_query(const ListCommand& command);
// Evaluates the time expressions, so it is called after the synchronisation.
ListQuery make_logs_query(const LogsCommand& command);

void list_log_files(const Database& database, const std::string& log_root, const ListQuery& query,
                    std::ostream& out, std::ostream& err);

}  // namespace vexlo
