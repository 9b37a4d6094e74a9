#pragma once
// The `show` command and the flat text form of a JSON document.

#include <cstdint>
#include <ostream>
#include <string_view>

#include "vexlo/db/database.h"
#include "vexlo/json/json.h"

namespace vexlo {

void show_log_file(const Database& database, std::uint64_t id, bool pretty, std::ostream& out,
                   std::ostream& err);

// Writes `value` in the text form: each object member as its dotted key path
// on a line of its own, each scalar followed by an empty line.
void print_json_text(json::Value value, std::string_view path, std::ostream& out);

}  // namespace vexlo
