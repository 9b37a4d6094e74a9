// The order of one run: parse, answer help, --version and a command's
// --help, load the configuration, settle the log root, open and synchronise
// the database, then run the command. Only a database directory that cannot
// be created ends a run early.
//
// The exit status tells a script what became of the run (kExitSuccess,
// kExitFailure, kExitUsage in run.h); what the run writes does not depend
// on it.
//
// With --read-only the database is only read: nothing is created, written
// or locked, and the command answers with the IDs the database file holds.

#include "vexlo/app/run.h"

#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "vexlo/app/browse.h"
#include "vexlo/app/browse_live.h"
#include "vexlo/app/cursor.h"
#include "vexlo/app/database_messages.h"
#include "vexlo/app/follow.h"
#include "vexlo/app/output_status.h"
#include "vexlo/app/paged_output.h"
#include "vexlo/app/pager_choice.h"
#include "vexlo/app/queries.h"
#include "vexlo/cli/command.h"
#include "vexlo/cli/command_reference.h"
#include "vexlo/cli/usage.h"
#include "vexlo/config/config.h"
#include "vexlo/db/database.h"
#include "vexlo/os/file_system.h"
#include "vexlo/query/invalid_files.h"
#include "vexlo/query/list.h"
#include "vexlo/query/show.h"

namespace vexlo {
namespace {

// Whether the command follows new logs after its listing.
bool follows(const CommandKind& kind) {
  if (const auto* list = std::get_if<ListCommand>(&kind)) return list->follow && !list->invalid;
  if (const auto* logs = std::get_if<LogsCommand>(&kind)) return logs->follow && !logs->invalid;
  return false;
}

bool lists_invalid(const CommandKind& kind) {
  if (const auto* list = std::get_if<ListCommand>(&kind)) return list->invalid;
  if (const auto* logs = std::get_if<LogsCommand>(&kind)) return logs->invalid;
  return false;
}

// Whether standard output carries JSON alone, which a message about the
// configuration would break for the reader.
bool writes_json(const CommandKind& kind) {
  if (const auto* list = std::get_if<ListCommand>(&kind)) return list->json;
  if (const auto* logs = std::get_if<LogsCommand>(&kind)) return logs->json;
  if (const auto* show = std::get_if<ShowCommand>(&kind)) return show->json;
  return false;
}

// The cursor file the command names, if any.
const std::optional<std::string>* cursor_file(const CommandKind& kind) {
  if (const auto* list = std::get_if<ListCommand>(&kind)) return &list->cursor_file;
  if (const auto* logs = std::get_if<LogsCommand>(&kind)) return &logs->cursor_file;
  return nullptr;
}

// Shows a log, through a pager when standard output is a terminal of known
// size that the text does not fit on.
int show(const ShowCommand& command, const Database& database, const std::string& log_root, std::ostream& out,
         std::ostream& err, TerminalOutput terminals) {
  const bool colour = uses_colour(command.colour, terminals.out, terminals.no_colour);
  const auto print = [&](std::ostream& to) {
    return show_log_file(database, log_root, command.id, show_format(command), to, err, terminals, colour)
               ? kExitSuccess
               : kExitFailure;
  };
  if (!terminals.out || command.no_pager || terminals.rows <= 0) return print(out);
  PagedOutput paged(out, {terminals.rows, terminals.columns}, choose_pager(PagerSettings::of_process()));
  std::ostream paged_out(&paged);
  const int status = print(paged_out);
  return exit_status_after_output(status, paged.finish(), err);
}

// Returns the exit status of the command: a listing is an answer even
// after a failed synchronisation; a dropped time bound was a command line
// not used as written; a show that printed nothing, or a cursor that could
// not be recorded, failed.
int run_command(const CommandKind& kind, const Database& database, const std::string& log_root,
                Follower* follower, Cursor* cursor, std::ostream& out, std::ostream& err, TerminalOutput terminals) {
  bool recorded = true;
  const auto list = [&](ListQuery query) {
    if (lists_invalid(kind)) return list_invalid_files(database, log_root, query, out, err, terminals);
    // Newer logs come below the listing, as in tail -f.
    query.oldest_first = follower != nullptr;
    if (cursor != nullptr) {
      // The count picks the newest logs of a first run only: later ones
      // print all that are new, or the older of them would be skipped.
      if (cursor->has_record()) query.limit = -1;
      query.above_id = cursor->above(database, err, terminals);
    }
    ListingScan listing;
    listing.keep_paths = follower != nullptr;
    const PrintedLines printed = list_log_files(database, log_root, query, out, err, terminals, &listing);
    note_invalid_files(database, log_root, listing.unreadable, query, os::now_seconds(), err, terminals);
    if (cursor != nullptr) recorded = record_cursor(*cursor, printed.highest_id, out, err, terminals);
    if (follower != nullptr) follower->follow(query, listing, database.passed_over(), out, cursor);
  };
  const int status = std::visit(
      [&](const auto& command) {
        using Kind = std::decay_t<decltype(command)>;
        if constexpr (std::is_same_v<Kind, ListCommand>) {
          list(make_list_query(command));
        } else if constexpr (std::is_same_v<Kind, LogsCommand>) {
          // Relative time expressions count back from now, after the sync.
          const LogsQuery logs = make_logs_query(command, err, terminals.err);
          list(logs.query);
          if (logs.bound_dropped) return kExitUsage;
        } else if constexpr (std::is_same_v<Kind, ShowCommand>) {
          return show(command, database, log_root, out, err, terminals);
        }
        // Help, Version and Reference never get here: they end the run
        // before anything is opened; nor does Browse, which has an exit
        // status of its own.
        return kExitSuccess;
      },
      kind);
  return status == kExitSuccess && !recorded ? kExitFailure : status;
}

// The status of a run whose command line was not used as written is
// kExitUsage, whatever came after: the answer is not to what was typed.
int status_of(const Command& command, int status) { return command.misused ? kExitUsage : status; }

// Says on `err`, once the wait for another run grows long, why nothing
// seems to happen.
OpenOptions open_options(const std::string& log_root, std::ostream& err, TerminalOutput terminals) {
  OpenOptions options;
  options.lock_wait.on_long_wait = [&err, &log_root, terminals] {
    err << "Waiting for another vexlo run on " << Shown{log_root, terminals.err} << " to finish\n" << std::flush;
  };
  return options;
}

// With a cursor, the database gets an instance that tells it from one made
// anew later; without, its file stays as it was.
Result<Database> open_database(const Command& command, const std::string& log_root, std::ostream& err,
                               TerminalOutput terminals) {
  if (command.read_only) return Database::open_read_only(log_root);
  auto database = Database::open(log_root, open_options(log_root, err, terminals));
  const auto* cursor = cursor_file(command.kind);
  // Without an instance a changed database is still told by its counter.
  if (database && cursor != nullptr && cursor->has_value()) (void)database->give_instance();
  return database;
}

}  // namespace

int run(std::span<const std::string_view> args, std::ostream& out, std::ostream& err, TerminalOutput terminals) {
  const Command command = parse_command_line(args, err, terminals.err);
  if (std::holds_alternative<HelpCommand>(command.kind)) {
    print_usage(usage_program_name(args), err);
    return status_of(command, kExitSuccess);
  }
  if (std::holds_alternative<VersionCommand>(command.kind)) {
    out << "vexlo " << VEXLO_VERSION << '\n';
    return status_of(command, kExitSuccess);
  }
  if (const auto* reference = std::get_if<ReferenceCommand>(&command.kind)) {
    print_command_reference(reference->word, out);
    return status_of(command, kExitSuccess);
  }

  const auto* browse = std::get_if<BrowseCommand>(&command.kind);
  // Nothing is opened for a view that cannot be shown.
  if (browse != nullptr && !can_browse()) {
    err << kBrowseNeedsTerminal << '\n';
    return kBrowseNeedsTerminalStatus;
  }
  // Before anything is printed: a cursor that cannot be used prints nothing.
  std::optional<Cursor> cursor;
  if (const auto* path = cursor_file(command.kind); path != nullptr && path->has_value()) {
    auto loaded = Cursor::load(**path);
    if (!loaded) {
      err << "Error: cannot use cursor file " << Shown{**path, terminals.err} << ": "
          << Shown{loaded.error().text, terminals.err} << '\n';
      return 2;
    }
    cursor.emplace(std::move(*loaded));
  }

  const Config config = load_config(command.config_path, writes_json(command.kind) ? err : out);
  const std::string log_root = command.log_path.value_or(config.log_root_path);

  auto database = open_database(command, log_root, err, terminals);
  if (!database) {
    report_open_error(database.error(), err, terminals);
    return status_of(command, kExitFailure);
  }
  if (database->created_log_root()) {
    err << "Warning: log directory " << Shown{log_root, terminals.err} << " did not exist and was created\n";
  }
  if (const auto& distrust = database->ids_distrust()) {
    err << "Warning: the IDs may have been changed by another user: " << Shown{*distrust, terminals.err} << '\n';
  }
  if (const auto& distrust = database->log_time_cache_distrust()) {
    err << "Warning: log time cache ignored: " << Shown{*distrust, terminals.err} << '\n';
  }
  // Set up before the sync starts threads and scans.
  std::optional<Follower> follower;
  std::optional<BrowseLive> browse_live;
  if (browse != nullptr) browse_live.emplace(log_root, command.read_only);
  if (follows(command.kind)) {
    follower.emplace(log_root, command.read_only,
                     [&]() { return open_database(command, log_root, err, terminals); }, err, terminals);
  }
  // A failed sync leaves a database the command can still use.
  const auto synced = database->sync(log_root);
  if (const std::string& kept = database->kept_damaged_file(); !kept.empty()) {
    err << "Warning: damaged database file kept as " << Shown{kept, terminals.err} << '\n';
  }
  for (const auto& directory : database->passed_over()) report_passed_over(directory, err, terminals);
  if (!synced) report_sync_error(*database, synced.error(), err, terminals);
  if (synced && database->may_have_been_reset()) report_new_database(*database, err, terminals);
  if (browse != nullptr) {
    const bool colour = uses_colour(browse->colour, true, terminals.no_colour);
    return status_of(command, browse_logs(*browse, *database, log_root, &*browse_live, colour, err));
  }
  return status_of(command, run_command(command.kind, *database, log_root, follower ? &*follower : nullptr,
                                        cursor ? &*cursor : nullptr, out, err, terminals));
}

}  // namespace vexlo
