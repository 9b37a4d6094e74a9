// Following waits on inotify, which costs nothing while nothing happens,
// and looks at the tree only when a change may have brought a new log: a
// new directory, or a file not seen before that parses by now. Where
// inotify is not to be had, or runs out of watches, it scans every two
// seconds instead, through a database opened for reading only, and does a
// round only when that scan finds a file not seen before.
//
// Whatever another user does in the tree, following costs at most about
// half a processor: after a stretch of work (events read, a round) the
// follower rests as long as it worked, listening for stop signals only.
// Events that come meanwhile wait in the queue, or overflow it, which
// sets the watch up afresh.
//
// A round numbers the new files as any run does: it opens the database
// (waiting for the lock), synchronises and saves, which lets the lock go,
// and only then prints. So every ID it prints is kept. Stop signals are
// looked at between rounds only, so that neither a line nor the database
// is left half-written.

#include "vexlo/app/follow.h"

#include <algorithm>
#include <chrono>

#include "vexlo/app/database_messages.h"
#include "vexlo/db/config_files.h"
#include "vexlo/db/log_tree.h"
#include "vexlo/os/process_resources.h"
#include "vexlo/query/follow.h"

namespace vexlo {
namespace {

using namespace std::chrono_literals;

constexpr auto kScanInterval = 2s;
// Events this close together are taken as one change.
constexpr auto kSettle = 100ms;
// The longest rest, so that a new log is still printed within seconds.
constexpr auto kLongestRest = 2s;

}  // namespace

Follower::Follower(const std::string& log_root, bool read_only, OpenDatabase open_database, std::ostream& err,
                   TerminalOutput terminals)
    : log_root_(log_root), read_only_(read_only), open_database_(std::move(open_database)), err_(err),
      terminals_(terminals) {
  // Without the signals blocked, SIGINT and SIGTERM end the run as they
  // would any other.
  if (auto stop = os::StopSignals::block()) stop_.emplace(std::move(*stop));
  watch_tree();
}

void Follower::watch_tree() {
  // The watches of an old watch count against the limit until it goes.
  watch_.reset();
  if (auto watch = os::TreeWatch::open(log_root_, kConfigDirName, enter_directory)) {
    watch_.emplace(std::move(*watch));
  } else {
    watch_no_more(watch.error());
  }
}

void Follower::watch_no_more(const Error& error) {
  watch_.reset();
  err_ << "Warning: cannot watch " << Shown{log_root_, terminals_.err} << " for new files ("
       << Shown{error.text, terminals_.err} << "); looking every 2 seconds instead\n";
  err_.flush();
  probe_.emplace(Database::open_read_only(log_root_));
}

bool Follower::rest_after_work(int stop_fd) {
  const auto worked = os::processor_time() - worked_before_;
  const auto passed = std::chrono::steady_clock::now() - since_;
  if (2 * worked > passed) {
    const auto rest = std::min(std::chrono::duration_cast<std::chrono::milliseconds>(2 * worked - passed),
                               std::chrono::milliseconds(kLongestRest));
    auto stopped = os::wait_readable({stop_fd}, rest);
    if (stopped && *stopped) return false;
  }
  worked_before_ = os::processor_time();
  since_ = std::chrono::steady_clock::now();
  return true;
}

bool Follower::wait_for_change(const NewLogPrinter& printer) {
  const int stop_fd = stop_ ? stop_->fd() : -1;
  for (;;) {
    if (!rest_after_work(stop_fd)) return false;
    if (watch_) {
      auto changes = watch_->wait(stop_fd, kSettle);
      if (!changes) {
        watch_no_more(changes.error());
        continue;
      }
      if (!*changes) return false;
      // Lost events may have hidden a new directory from the watch.
      if ((*changes)->lost) watch_tree();
      if ((*changes)->anything || printer.may_find_new((*changes)->files, log_root_)) return true;
    } else {
      auto stopped = os::wait_readable({stop_fd}, kScanInterval);
      if (stopped && *stopped) return false;
      if (printer.finds_unseen(*probe_, log_root_)) return true;
    }
  }
}

// A directory is said when it is first passed over, not at every round.
void Follower::report_new_passed_over(std::span<const PassedOverDirectory> passed_over) {
  std::set<std::pair<std::string, std::string>> now;
  for (const PassedOverDirectory& directory : passed_over) {
    std::pair<std::string, std::string> key{directory.path, directory.reason};
    const bool said_before = passed_over_.contains(key);
    if (now.insert(std::move(key)).second && !said_before) report_passed_over(directory, err_, terminals_);
  }
  passed_over_ = std::move(now);
}

void Follower::round(NewLogPrinter& printer, std::ostream& out) {
  auto database = open_database_();
  if (!database) {
    report_open_error(database.error(), err_, terminals_);
    err_.flush();
    return;
  }
  const auto synced = database->sync(log_root_);
  // A scan that failed knows nothing of the tree, nor of what was said.
  if (database->scan_completed()) report_new_passed_over(database->passed_over());
  if (!synced) report_sync_error(*database, synced.error(), err_, terminals_);
  if (!synced && !read_only_) {
    // The IDs given in memory were not saved: only those of the database
    // file may be printed, a new file gets 0 as in a run that saves nothing.
    database = Database::open_read_only(log_root_);
  }
  if (cursor_ != nullptr) printer.print_above(cursor_->above(*database, err_, terminals_));
  const PrintedLines printed = printer.print_new(*database, log_root_, !read_only_ && synced, out, err_, terminals_);
  if (cursor_ != nullptr) record_cursor(*cursor_, printed.highest_id, out, err_, terminals_);
  err_.flush();
}

void Follower::follow(const ListQuery& query, const ListingScan& listing,
                      std::span<const PassedOverDirectory> passed_over, std::ostream& out, Cursor* cursor) {
  cursor_ = cursor;
  for (const PassedOverDirectory& directory : passed_over) passed_over_.emplace(directory.path, directory.reason);
  NewLogPrinter printer(query, listing);
  out.flush();
  worked_before_ = os::processor_time();
  since_ = std::chrono::steady_clock::now();
  while (out && wait_for_change(printer)) {
    round(printer, out);
    // The round saved what it read in the log time cache: looking again
    // through it reads only what changes after.
    if (probe_) probe_.emplace(Database::open_read_only(log_root_));
  }
}

}  // namespace vexlo
