#pragma once
// End-to-end runs of the built vexlo binary: a fresh temporary directory
// holding a given tree, a run of the binary in it with the arguments given
// (the program name included, or no arguments at all), and everything the
// run left behind: standard output, standard error, exit status and files.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "testing/temp_dir.h"

namespace vexlo::e2e {

// Path of the binary under test, set by the build.
std::string binary_path();

// The project's source tree (from VEXLO_SOURCE_DIR), or no value when the
// tests run without it.
std::optional<std::string> source_dir();

struct TreeFile {
  TreeFile(std::string path, std::string content, std::optional<std::int64_t> mtime = std::nullopt)
      : path(std::move(path)), content(std::move(content)), mtime(mtime) {}

  std::string path;  // relative to the sandbox root
  std::string content;
  std::optional<std::int64_t> mtime;  // seconds since the epoch
};

// Where the run's standard output goes.
enum class StdoutTarget {
  Capture,     // a pipe read by the harness
  ClosedPipe,  // a pipe whose reader has already gone
  DevFull,     // /dev/full: every write fails with ENOSPC
  Closed,      // no descriptor 1 at all
  Terminal,    // a pseudo-terminal in raw mode, standard error too; both read into `out`
};

struct RunOptions {
  std::string working_directory = ".";  // relative to the sandbox root
  StdoutTarget stdout_target = StdoutTarget::Capture;
  bool close_stderr = false;
  bool merge_stderr = false;  // standard error into the stdout pipe, as 2>&1
  std::chrono::milliseconds timeout{20000};
  std::optional<std::string> binary = std::nullopt;  // another program, or a copy of the binary
  std::vector<std::string> environment = {};         // "NAME=value", in place of the test's own
  int terminal_rows = 0;                             // of the Terminal target; 0: a size it does not know
};

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;         // exit status; -1 when the run did not exit
  int signal = 0;          // the signal that ended it, if one did
  bool timed_out = false;  // killed after the timeout
  // The peak memory the run held, as an upper bound: a child started by
  // posix_spawn shares the test's memory until it executes the binary,
  // and Linux counts that in.
  long max_rss_kib = 0;
  // Whole seconds of the real-time clock just before the start and just
  // after the end, for values the run takes from the clock.
  std::int64_t started_at = 0;
  std::int64_t ended_at = 0;
};

std::ostream& operator<<(std::ostream& os, const RunResult& result);

class Sandbox {
 public:
  Sandbox() = default;

  const std::string& root() const { return dir_.path(); }
  // root() joined with `relative`.
  std::string path(std::string_view relative) const { return dir_ / relative; }

  void write(const TreeFile& file) const;
  void write_tree(std::span<const TreeFile> files) const;
  void make_dir(std::string_view relative) const;
  std::string read(std::string_view relative) const;
  bool exists(std::string_view relative) const;
  // Copies a directory tree from anywhere into the sandbox.
  void copy_in(const std::string& from, std::string_view to) const;

  // Runs the binary as "vexlo" followed by `args`.
  RunResult run(const std::vector<std::string>& args, const RunOptions& options = {}) const;
  // Runs the binary with exactly `argv` (empty: no arguments at all).
  RunResult run_argv(const std::vector<std::string>& argv, const RunOptions& options = {}) const;

  // Every entry below the root: relative path -> content for regular files,
  // "<dir>" for directories, "-> target" for symbolic links, "<other>" else.
  std::map<std::string, std::string> snapshot() const;

 private:
  testing::ScopedTempDir dir_;
};

// The line that follows a refusal to write in the log root.
inline constexpr const char* kReadOnlyHint =
    "Hint: run with --read-only to list and show the logs without writing to the log directory\n";

// The database file below a log root.
std::string database_path(std::string_view log_root);

// Compares a database file's text with `expected`, in which the value of
// "last_sync" is written as kLastSync; the actual value must lie within
// [earliest, latest].
inline constexpr std::string_view kLastSync = "@LAST_SYNC@";
::testing::AssertionResult database_matches(std::string_view actual, std::string_view expected,
                                            std::int64_t earliest, std::int64_t latest);

// The database text the tool writes for entries (id, path) in file order.
std::string database_text(const std::vector<std::pair<std::uint64_t, std::string>>& entries,
                          std::uint64_t next_file_id);

}  // namespace vexlo::e2e
