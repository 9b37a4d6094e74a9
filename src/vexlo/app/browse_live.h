#pragma once
// New logs for `browse` while it runs: --follow's Follower, on a thread of
// its own, prints them as JSON lines into a text the view takes them from.

#include <mutex>
#include <optional>
#include <ostream>
#include <span>
#include <streambuf>
#include <string>
#include <thread>

#include "vexlo/app/follow.h"
#include "vexlo/browse/browser.h"
#include "vexlo/os/stop_signals.h"
#include "vexlo/query/list.h"

namespace vexlo {

// Text written by one thread and taken by another, a line at a time.
class SharedLines : public std::streambuf {
 public:
  // The complete lines written since the last call.
  std::string take();

 protected:
  int_type overflow(int_type ch) override;
  std::streamsize xsputn(const char* data, std::streamsize size) override;

 private:
  std::mutex mutex_;
  std::string text_;
};

// The logs and warnings in the lines --follow printed: its JSON lines, and
// every other line as a message.
browse::Listing read_followed_lines(std::string_view lines);

class BrowseLive {
 public:
  // Set up before the run's synchronisation, as a following run does, so
  // that no log falls between the listing and the watch.
  BrowseLive(const std::string& log_root, bool read_only);
  BrowseLive(const BrowseLive&) = delete;
  BrowseLive& operator=(const BrowseLive&) = delete;
  // Stops the follower and waits for its round to end.
  ~BrowseLive();

  // Follows from what the first listing scanned; false when following could
  // not be set up to stop again, and so is not done.
  bool start(const ListingScan& listing, std::span<const PassedOverDirectory> passed_over);
  // What was found since the last call, the logs with their kept IDs.
  browse::Listing take() { return read_followed_lines(lines_.take()); }
  // Readable once SIGINT, SIGTERM or SIGHUP has come from outside, which
  // ends the view; -1 when they could not be blocked, and so end the run.
  int stop_fd() const { return stop_ ? stop_->fd() : -1; }

 private:
  SharedLines lines_;
  std::ostream stream_;
  // Blocked before the follower blocks some of them again, and let go
  // after it, each signal taken before it is unblocked.
  std::optional<os::StopSignals> stop_;
  Follower follower_;
  ListingScan listing_;
  std::optional<std::jthread> thread_;
};

}  // namespace vexlo
