#pragma once
// --follow: after the listing, keep running and print each log file that
// appears later, until SIGINT or SIGTERM.

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <ostream>
#include <string>
#include <utility>

#include "vexlo/app/cursor.h"
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
  // a stop signal or a failed write to `out`. `listing` is what the
  // listing's scan met, `passed_over` what the run has warned of. With a
  // `cursor`, each round prints only the logs above it and records it.
  void follow(const ListQuery& query, const ListingScan& listing, std::span<const PassedOverDirectory> passed_over,
              std::ostream& out, Cursor* cursor = nullptr);

  // Whether a stop signal ends follow(); without, only the end of the
  // process does.
  bool stoppable() const { return stop_.has_value(); }

 private:
  bool wait_for_change(const class NewLogPrinter& printer);
  bool rest_after_work(int stop_fd);
  void round(NewLogPrinter& printer, std::ostream& out);
  void watch_tree();
  void watch_no_more(const Error& error);
  void report_new_passed_over(std::span<const PassedOverDirectory> passed_over);

  const std::string& log_root_;
  bool read_only_;
  OpenDatabase open_database_;
  std::ostream& err_;
  TerminalOutput terminals_;
  Cursor* cursor_ = nullptr;
  std::optional<os::StopSignals> stop_;
  std::optional<os::TreeWatch> watch_;
  std::optional<Database> probe_;  // for looking without a watch
  // Processor time used and the time when the last rest ended.
  std::chrono::nanoseconds worked_before_{};
  std::chrono::steady_clock::time_point since_;
  // Each directory passed over at the last round, with its reason.
  std::set<std::pair<std::string, std::string>> passed_over_;
};

}  // namespace vexlo
