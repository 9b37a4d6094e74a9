#pragma once
// The text of the database file: its fixed layout, and loading that
// accepts whatever the file holds.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vexlo/db/database.h"

namespace vexlo {

struct DatabaseContent {
  std::vector<FileEntry> files;
  std::uint64_t next_file_id = 1;
};

// The whole file: members "files", "last_sync", "next_file_id", two spaces
// per level, no newline after the closing brace.
std::string render_database(const std::vector<FileEntry>& files, std::uint64_t next_file_id,
                            std::int64_t last_sync);

// Whatever can be used: text that is not one JSON object gives the empty
// content, entries without a string "path" and an unsigned integer "id"
// are left out, and "next_file_id" counts only as an unsigned integer.
DatabaseContent parse_database(std::string_view text);

}  // namespace vexlo
