#pragma once
// --cursor-file: where the last run of a shipper left off, so that the next
// one prints only the logs found since. IDs are handed out in increasing
// order, so "above the recorded ID" means "found since".
//
// The record is written only after the lines are written and flushed: a
// run that dies in between prints some lines again next time, but never
// skips one (at least once).

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "vexlo/common/error.h"
#include "vexlo/common/terminal_text.h"
#include "vexlo/db/database.h"

namespace vexlo {

// What a cursor file holds: the highest ID printed, and the instance of the
// database that gave it (empty when that database had none).
struct CursorRecord {
  std::string instance;
  std::uint64_t id = 0;

  bool operator==(const CursorRecord&) const = default;
};

// The file's text: "vexlo cursor 1", "database " with the instance or "-",
// "id " with the ID, one line each.
std::string render_cursor(const CursorRecord& record);

// The record in `text`, or why it is none: not a cursor file at all, or one
// that is damaged.
Result<CursorRecord> parse_cursor(std::string_view text);

class Cursor {
 public:
  // Reads the cursor file at `path`; none there is no record yet. A file
  // that is not a cursor file, is damaged, is a link or no regular file, or
  // that is not the running user's own (or others may write it) is an
  // error: another user could make the run skip logs.
  static Result<Cursor> load(std::string path);

  const std::string& path() const { return path_; }
  bool has_record() const { return current_.has_value(); }

  // The ID above which logs are to be printed from `database`: the
  // recorded one, or 0 when there is none, or when the database is not the
  // one the record was made on (made anew, its IDs started again), which is
  // said once on `err`.
  std::uint64_t above(const Database& database, std::ostream& err, TerminalOutput terminals);

  // Records `highest_printed` (when above the record) with the database of
  // the last `above`, replacing the file whole, owner only, and never
  // writing through a link; nothing is written when nothing changed.
  Status record(std::uint64_t highest_printed);

 private:
  explicit Cursor(std::string path) : path_(std::move(path)) {}

  std::string path_;
  std::optional<CursorRecord> written_;  // what the file holds
  std::optional<CursorRecord> current_;  // what it is to hold
};

// Flushes `out` and, when every line got out, records `highest_printed`;
// a failure is said on `err`. Returns whether the cursor is recorded.
bool record_cursor(Cursor& cursor, std::uint64_t highest_printed, std::ostream& out, std::ostream& err,
                   TerminalOutput terminals);

}  // namespace vexlo
