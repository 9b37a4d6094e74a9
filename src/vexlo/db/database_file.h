#pragma once
// The text of the database file: its fixed layout, and loading that
// accepts whatever the file holds.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vexlo/common/error.h"
#include "vexlo/db/file_entry.h"
#include "vexlo/db/file_pieces.h"

namespace vexlo {

struct DatabaseContent {
  std::vector<FileEntry> files;
  std::uint64_t next_file_id = 1;
  // What tells this database from one made anew at the same place, whose
  // IDs start again: random hexadecimal digits, or empty when it has none
  // (a database is given one only when a cursor is to be kept on it).
  std::string instance = {};
};

// The whole file: members "files", "instance" (only when not empty),
// "last_sync", "next_file_id", two spaces per level, no newline after the
// closing brace.
std::string render_database(const std::vector<FileEntry>& files, std::uint64_t next_file_id,
                            std::int64_t last_sync, std::string_view instance = {});
// The same text handed to `write` in pieces of some tens of kilobytes, so
// that a large database is written without being held whole; stops at the
// first error `write` returns.
Status render_database(const std::vector<FileEntry>& files, std::uint64_t next_file_id, std::int64_t last_sync,
                       std::string_view instance, const std::function<Status(std::string_view)>& write);

// Whether `text` can be the "instance" of a database: 1 to 64 lowercase
// hexadecimal digits. Another value loads as none.
bool is_database_instance(std::string_view text);

struct LoadedDatabase {
  // Whatever can be used: text that is not one JSON object gives the empty
  // content, entries without a string "path" and an unsigned integer "id"
  // are left out, and "next_file_id" counts only as an unsigned integer.
  DatabaseContent content;
  // The text is no database file: not one JSON object, or one without a
  // "files" array. Anything short of that (a bad entry, a missing or odd
  // counter) is taken as a hand edit and loads.
  bool damaged = false;
};
// Memory that runs out while the text is parsed is no damage: it throws
// std::bad_alloc, as any allocation that fails does.
LoadedDatabase load_database(std::string_view text);

// The database file's bytes as a loaded database whose counter lies above
// every ID they hold. Bytes that are not UTF-8 or no database give no
// entries and the counter salvage_counter finds.
LoadedDatabase load_database_bytes(std::string_view bytes);

// Bytes of the database file read at once.
inline constexpr std::size_t kDatabasePieceSize = std::size_t{1} << 16;

// The same of a file of `size` bytes in the layout render_database writes,
// read through `read_at` in pieces of `piece` bytes and never held whole;
// none for any other text, which the caller reads whole for
// load_database_bytes. The error of a read that failed.
Result<std::optional<LoadedDatabase>> load_own_database_layout(std::uint64_t size, const ReadFileAt& read_at,
                                                               std::size_t piece = kDatabasePieceSize);

// The counter a loaded database continues from: never 0 (which means "no
// ID"), and above every ID an entry holds, so that no ID is handed out a
// second time whatever the file says. Saturates at the largest value,
// which is itself never handed out.
std::uint64_t counter_above(const std::vector<FileEntry>& files, std::uint64_t next_file_id);

// The counter for a damaged database file: above every number written as
// `"id": N` and at least every `"next_file_id": N` still legible in its
// bytes, whatever surrounds them, so that no ID given out before the damage
// comes to mean another file. 1 when nothing is legible.
std::uint64_t salvage_counter(std::string_view bytes);

}  // namespace vexlo
