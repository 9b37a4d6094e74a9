#pragma once
// --follow: after the listing, keep running and print each log file that
// appears later, until SIGINT or SIGTERM.

#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "vexlo/common/error.h"
#include "vexlo/common/terminal_text.h"
#include "vexlo/db/database.h"
#include "vexlo/os/stop_signals.h"
#include "vexlo/os/tree_watch.h"
#include "vexlo/query/list.h"

namespace vexlo {

// What a following run sets up before it lists: the stop signals are
// blocked before any thread starts, and the tree is watched before the
// listing scans it, so that no file falls between the two.
class Follower {
 public:
  // Opens the database for one round: with the lock and saving, or only
  // reading.
  using OpenDatabase = std::function<Result<Database>()>;

  Follower(const std::string& log_root, bool read_only, OpenDatabase open_database, std::ostream& err,
           TerminalOutput terminals);

  // Prints the new log files as they come, in the query's line form, until
  // a stop signal or a failed write to `out`. `listed` holds the paths the
  // listing scanned.
  void follow(const ListQuery& query, std::span<const std::string> listed, std::ostream& out);

 private:
  bool wait_for_change(const class NewLogPrinter& printer);
  void round(NewLogPrinter& printer, std::ostream& out);
  void watch_tree();
  void watch_no_more(const Error& error);

  const std::string& log_root_;
  bool read_only_;
  OpenDatabase open_database_;
  std::ostream& err_;
  TerminalOutput terminals_;
  std::optional<os::StopSignals> stop_;
  std::optional<os::TreeWatch> watch_;
  std::optional<Database> probe_;  // for looking without a watch
};

}  // namespace vexlo
