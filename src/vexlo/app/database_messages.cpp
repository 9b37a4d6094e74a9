#include "vexlo/app/database_messages.h"

#include <cerrno>
#include <string>
#include <vector>

#include "vexlo/db/config_files.h"

namespace vexlo {
namespace {

// The errors that writing to the log root meets when the user may read it
// but not write it, or the file system is mounted read-only.
bool is_write_refused(int os_code) { return os_code == EACCES || os_code == EPERM || os_code == EROFS; }

void print_read_only_hint(std::ostream& err) {
  err << "Hint: run with --read-only to list and show the logs without writing to the log directory" << '\n';
}

// The listed files that bear the database's name: a ".config" renamed
// within the log root is scanned like any other directory.
std::vector<std::string> database_like_logs(const Database& database) {
  const std::string suffix = "/" + std::string(kDatabaseFileName);
  std::vector<std::string> found;
  for (const auto& entry : database.files()) {
    if (entry.path.ends_with(suffix)) found.push_back(database.path_for_run(entry));
  }
  return found;
}

}  // namespace

void report_new_database(const Database& database, std::ostream& err, TerminalOutput terminals) {
  const std::size_t count = database.files().size();
  if (count == 0) return;
  err << "Warning: new database " << Shown{database.db_path(), terminals.err} << ": " << count
      << (count == 1 ? " log file" : " log files") << " numbered from 1; IDs shown before no longer hold";
  const auto old_files = database_like_logs(database);
  if (!old_files.empty()) {
    err << "; the old database may be " << Shown{old_files.front(), terminals.err};
    if (old_files.size() > 1) err << " (or one of " << old_files.size() - 1 << " more files of that name)";
  }
  err << '\n';
}

void report_open_error(const Error& error, std::ostream& err, TerminalOutput terminals) {
  err << "Error initializing database: " << Shown{error.text, terminals.err} << '\n';
  if (is_write_refused(error.os_code)) print_read_only_hint(err);
}

void report_sync_error(const Database& database, const Error& error, std::ostream& err, TerminalOutput terminals) {
  err << "sync error: " << Shown{error.text, terminals.err} << '\n';
  if (database.scan_completed() && is_write_refused(error.os_code)) print_read_only_hint(err);
}

void report_passed_over(const PassedOverDirectory& directory, std::ostream& err, TerminalOutput terminals) {
  err << "Warning: " << (directory.is_file ? "file " : "directory ") << Shown{directory.path, terminals.err}
      << " passed over: " << directory.reason << '\n';
}

}  // namespace vexlo
