#pragma once
// The `show` command and the flat text form of a JSON document.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "vexlo/common/terminal_text.h"
#include "vexlo/db/database.h"
#include "vexlo/json/json.h"

namespace vexlo {

enum class ShowFormat {
  Text,    // dotted key paths and values
  Pretty,  // indented JSON and a newline
  Json,    // compact JSON on one line and a newline
};

// Prints the log file with the given ID in `format`. A missing entry, an
// unreadable file or content that is not one JSON value is reported on
// `err`, and then nothing at all is written to `out`. On the streams that
// `terminals` names, control characters of keys, strings and paths are
// shown escaped. Returns whether the log was printed.
// Only what the scan of `log_root` would accept is opened: an entry whose
// path lies outside the log root is missing. With `colour`, keys, strings,
// numbers and literals are coloured (common/colour.h).
bool show_log_file(const Database& database, const std::string& log_root, std::uint64_t id, ShowFormat format,
                   std::ostream& out, std::ostream& err, TerminalOutput terminals = {}, bool colour = false);

// The part of show_log_file after the lookup, for a path the scan of
// `log_root` gave, as text and as the bytes it stands for (the same but
// where it is not UTF-8): opened as the scan would take it (so not at all
// when it lies outside the log root).
void show_log_at(const std::string& log_root, const std::string& path, const std::string& system_path,
                 ShowFormat format, std::ostream& out, std::ostream& err, TerminalOutput terminals = {},
                 bool colour = false);

// The part of show_log_file after the lookup: reads, parses and prints the
// file at `path`.
bool show_file(const std::string& path, ShowFormat format, std::ostream& out, std::ostream& err,
               TerminalOutput terminals = {}, bool colour = false);

// Writes `value` in the text form: each object member as its dotted key path
// on a line of its own, each scalar followed by an empty line. With
// `escape_controls`, control characters in names and strings are escaped,
// except tab and line feed inside strings.
void print_json_text(json::Value value, std::string_view path, std::ostream& out, bool escape_controls = false,
                     bool colour = false);

}  // namespace vexlo
