#include "vexlo/app/database_messages.h"

#include <cerrno>

namespace vexlo {
namespace {

// The errors that writing to the log root meets when the user may read it
// but not write it, or the file system is mounted read-only.
bool is_write_refused(int os_code) { return os_code == EACCES || os_code == EPERM || os_code == EROFS; }

void print_read_only_hint(std::ostream& err) {
  err << "Hint: run with --read-only to list and show the logs without writing to the log directory" << '\n';
}

}  // namespace

void report_open_error(const Error& error, std::ostream& err, TerminalOutput terminals) {
  err << "Error initializing database: " << Shown{error.text, terminals.err} << '\n';
  if (is_write_refused(error.os_code)) print_read_only_hint(err);
}

void report_sync_error(const Database& database, const Error& error, std::ostream& err, TerminalOutput terminals) {
  err << "sync error: " << Shown{error.text, terminals.err} << '\n';
  if (database.scan_completed() && is_write_refused(error.os_code)) print_read_only_hint(err);
}

void report_passed_over(const PassedOverDirectory& directory, std::ostream& err, TerminalOutput terminals) {
  err << "Warning: directory " << Shown{directory.path, terminals.err} << " passed over: " << directory.reason << '\n';
}

}  // namespace vexlo
