#pragma once
// The ".json" files that are not valid JSON: a scan passes over them, as
// they hold no time, and they get no ID. --invalid lists them with what is
// wrong, and a listing says once that it passed over some.

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "vexlo/common/terminal_text.h"
#include "vexlo/db/database.h"
#include "vexlo/query/list.h"

namespace vexlo {

struct InvalidFile {
  std::string path;
  std::string why;  // "ends inside a string at byte 4096"
};

// Of `paths` (those a scan could not read, as its notes give them), the
// files whose bytes are not one JSON value, opened below `log_root` as
// show opens them, in the order given.
std::vector<InvalidFile> find_invalid_files(const std::string& log_root, std::span<const std::string> paths);

// One line each, "PATH: WHY", or with `json` {"path":PATH,"why":WHY}.
void print_invalid_files(std::span<const InvalidFile> files, bool json, std::ostream& out, bool terminal);

// list --invalid and logs --invalid: scans `log_root` through `database`
// and prints the files the path filter of `query` selects.
void list_invalid_files(const Database& database, const std::string& log_root, const ListQuery& query,
                        std::ostream& out, std::ostream& err, TerminalOutput terminals);

// After a listing whose scan could not read `unreadable`: when files the
// path filter selects are not valid JSON, have not changed for over a
// minute, and some of them were not said before in the state they are in,
// says how many on `err`. What was said is kept in a file of ".config"
// that only the running user could have written (see
// Database::read_private_file): a file forged by another could only hide
// the note, so one that is not trusted is not read, and the note is said
// each time.
void note_invalid_files(const Database& database, const std::string& log_root,
                        std::span<const std::string> unreadable, const ListQuery& query, std::int64_t now,
                        std::ostream& err, TerminalOutput terminals);

}  // namespace vexlo
