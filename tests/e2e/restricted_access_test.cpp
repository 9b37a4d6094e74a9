// Log trees the tool may not fully read or write: a subdirectory it cannot
// list, and a log root on a read-only file system. The run reports what
// failed, still answers the command from the database it has, and leaves
// the database file as it was.
//
// Permissions do not hold for root, so as root the runs start from a child
// process that dropped to user and group 65534; the read-only file system is
// a read-only bind mount in a mount namespace of the run's own. Where
// neither can be had the tests skip and say why.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "e2e/harness.h"
#include "testing/child_process.h"
#include "testing/machine.h"

namespace vexlo::e2e {
namespace {

using namespace std::chrono_literals;

constexpr const char* kNoConfig = "no-such-config.toml";

std::vector<std::string> with_log_root(const std::string& log_root, const std::vector<std::string>& args) {
  std::vector<std::string> all = {"--config", kNoConfig, "--log-path", log_root};
  all.insert(all.end(), args.begin(), args.end());
  return all;
}

// A run result as one string, to bring it back from a child process.
std::string encode(const RunResult& result) {
  std::ostringstream text;
  text << result.status << ' ' << result.signal << ' ' << result.timed_out << ' ' << result.started_at << ' '
       << result.ended_at << ' ' << result.out.size() << '\n'
       << result.out << result.err;
  return text.str();
}

RunResult decode(const std::string& encoded) {
  RunResult result;
  std::istringstream text(encoded);
  std::size_t out_size = 0;
  text >> result.status >> result.signal >> result.timed_out >> result.started_at >> result.ended_at >> out_size;
  const std::size_t body = encoded.find('\n') + 1;
  result.out = encoded.substr(body, out_size);
  result.err = encoded.substr(std::min(encoded.size(), body + out_size));
  return result;
}

// Runs the tool so that file permissions apply to it: from a child process
// that dropped to user and group 65534 when the tests run as root, else as
// the user running them.
class UnprivilegedRunner {
 public:
  explicit UnprivilegedRunner(const Sandbox& sandbox)
      : sandbox_(sandbox), binary_(sandbox.path("unprivileged-bin/vexlo")) {
    // The sandbox must be reachable by the other user, the directories
    // above it included. The build directory need not be (a clone below
    // /root, say), so the runs use a copy of the binary inside the sandbox.
    ::chmod(sandbox.root().c_str(), 0755);
    sandbox.make_dir("unprivileged-bin");
    std::error_code error;
    std::filesystem::copy_file(binary_path(), binary_, error);
    if (error) {
      reason_ = "cannot copy the binary to " + binary_ + ": " + error.message();
      return;
    }
    ::chmod(sandbox.path("unprivileged-bin").c_str(), 0755);
    ::chmod(binary_.c_str(), 0755);
    reason_ = testing::why_no_second_user(binary_);
  }

  // Why the runner cannot be used, or empty.
  const std::string& unusable_reason() const { return reason_; }

  // Gives a tree to the user the runs take, so that it may create the
  // database directory and replace the database file there.
  void hand_over(const std::string& relative) const {
    EXPECT_EQ(testing::give_to_unprivileged_user(sandbox_.path(relative)), "");
  }

  RunResult run(const std::vector<std::string>& args) const {
    std::string why;
    const auto encoded = testing::run_unprivileged(
        [&] { return encode(sandbox_.run(args, {.timeout = 20s, .binary = binary_})); }, &why);
    if (encoded) return decode(*encoded);
    RunResult failed;
    failed.err = "the unprivileged run failed: " + why;
    return failed;
  }

 private:
  const Sandbox& sandbox_;
  std::string binary_;
  std::string reason_;
};

TEST(RestrictedAccess, UnreadableSubdirectory) {
  Sandbox sandbox;
  const UnprivilegedRunner unprivileged(sandbox);
  if (!unprivileged.unusable_reason().empty()) GTEST_SKIP() << unprivileged.unusable_reason();

  sandbox.write({"logs/shutdown/unsafe/a.json", R"({"boot_timestamp": 10, "reason": "panic"})"});
  sandbox.write({"logs/locked/b.json", R"({"boot_timestamp": 20})"});
  sandbox.write({"logs/shutdown/unsafe/pipe.json", R"({"boot_timestamp": 30})"});
  sandbox.write({"logs/shutdown/unsafe/dir.json", R"({"boot_timestamp": 40})"});
  ASSERT_EQ(sandbox.run(with_log_root("logs", {"list", "--all"})).status, 0);
  unprivileged.hand_over("logs");
  // Two log files change their kind after the last synchronisation.
  ASSERT_EQ(::unlink(sandbox.path("logs/shutdown/unsafe/pipe.json").c_str()), 0);
  ASSERT_EQ(::mkfifo(sandbox.path("logs/shutdown/unsafe/pipe.json").c_str(), 0644), 0);
  ASSERT_EQ(::unlink(sandbox.path("logs/shutdown/unsafe/dir.json").c_str()), 0);
  sandbox.make_dir("logs/shutdown/unsafe/dir.json");
  ASSERT_EQ(::chmod(sandbox.path("logs/locked").c_str(), 0), 0);

  const std::string denied = "Permission denied (os error 13)";
  // The directory is passed over; the log below it keeps its ID, and the
  // rest is synchronised: a FIFO or a directory is no log file.
  const std::string passed_over = "Warning: directory logs/locked passed over: " + denied + "\n";
  const struct {
    std::vector<std::string> args;
    std::string out;
    std::string err;
  } cases[] = {
      {{"list", "--all"}, "[ID:1] logs/shutdown/unsafe/a.json\n", passed_over},
      {{"show", "1"}, "boot_timestamp\n10\n\nreason\npanic\n\n", passed_over},
      {{"show", "2"}, "", passed_over + "Error opening file logs/locked/b.json: " + denied + "\n"},
      {{"show", "3"}, "", passed_over + "File with ID 3 not found\n"},
      {{"show", "4", "--pretty"}, "", passed_over + "File with ID 4 not found\n"},
  };
  for (const auto& c : cases) {
    const RunResult result = unprivileged.run(with_log_root("logs", c.args));
    EXPECT_FALSE(result.timed_out) << result;
    EXPECT_EQ(result.status, c.out.empty() ? 1 : 0) << result;  // a show that printed nothing failed
    EXPECT_EQ(result.out, c.out) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(result.err, c.err) << c.args[0] << " " << c.args[1];
    EXPECT_NE(sandbox.read(database_path("logs")).find("logs/locked/b.json"), std::string::npos);
  }
}

// The four ways a run once showed an ID that a later run gave to another
// file, as sequences of runs in one sandbox each: no ID is ever shown for
// two files nor a file under two IDs, and no listing shows one ID twice.
TEST(RestrictedAccess, NoIdShownIsLaterAnotherFiles) {
  struct Run {
    std::vector<std::pair<std::string, int>> arrive;  // logs/shutdown/unsafe/<name> with a time
    std::string log_path = "logs";                    // "@" stands for the sandbox
    std::string cwd = ".";
    std::vector<std::pair<std::string, mode_t>> modes = {};  // set before an unprivileged run
  };
  const std::pair<std::string, mode_t> open_lock = {"logs/.config/vexlo-db.lock", 0666};
  const std::pair<std::string, mode_t> closed_database = {"logs/.config/vexlo-db.json", 0600};
  const struct {
    const char* name;
    std::vector<Run> runs;
  } rows[] = {
      {"a save that fails", {{{{"a.json", 10}}}, {{{"new.json", 30}}, "logs", ".", {open_lock}}, {{{"b.json", 20}}}}},
      {"an unreadable database",
       {{{{"b.json", 20}}}, {{{"a.json", 10}}}, {{{"c.json", 30}}, "logs", ".", {closed_database}}, {}}},
      {"names that read alike", {{{{"x-\xff.json", 10}, {"x-\xfe.json", 20}, {"x-\xef\xbf\xbd.json", 30}}}, {}}},
      {"one root spelled two ways",
       {{{{"a.json", 10}}}, {{}, "./logs"}, {{{"b.json", 20}}, "logs/"}, {{}, "@/logs"}, {{}, "link"}, {{}, "../logs", "sub"}}},
  };
  for (const auto& row : rows) {
    Sandbox sandbox;
    const UnprivilegedRunner unprivileged(sandbox);
    sandbox.make_dir("sub");
    ASSERT_EQ(::symlink("logs", sandbox.path("link").c_str()), 0);
    std::map<std::string, std::string> file_of_id, id_of_file;
    for (const Run& run : row.runs) {
      for (const auto& [name, time] : run.arrive) {
        sandbox.write({"logs/shutdown/unsafe/" + name, "{\"boot_timestamp\": " + std::to_string(time) + "}"});
      }
      std::string log_path = run.log_path;
      if (log_path.starts_with("@")) log_path.replace(0, 1, sandbox.root());
      RunResult result;
      if (run.modes.empty()) {
        result = sandbox.run(with_log_root(log_path, {"list"}), {.working_directory = run.cwd});
      } else if (unprivileged.unusable_reason().empty()) {
        for (const auto& [path, mode] : run.modes) ASSERT_EQ(::chmod(sandbox.path(path).c_str(), mode), 0);
        result = unprivileged.run(with_log_root(log_path, {"list"}));
        EXPECT_NE(result.err.find("sync error: "), std::string::npos) << row.name << "\n" << result;
      }
      std::set<std::string> shown;
      std::istringstream lines(result.out);
      for (std::string id, path; lines >> id && std::getline(lines >> std::ws, path);) {
        if (id == "[ID:0]") continue;
        EXPECT_TRUE(shown.insert(id).second) << row.name << ": " << id << " twice\n" << result;
        const std::string file = path.substr(path.find("shutdown/"));
        EXPECT_EQ(file_of_id.emplace(id, file).first->second, file) << row.name << ": " << id << "\n" << result;
        EXPECT_EQ(id_of_file.emplace(file, id).first->second, id) << row.name << ": " << file << "\n" << result;
      }
    }
    EXPECT_FALSE(file_of_id.empty()) << row.name;
  }
}

// Runs the tool with `directory` (relative to the sandbox) mounted read-only
// in a mount namespace of the run's own, so nothing outlives the run.
class ReadOnlyRunner {
 public:
  explicit ReadOnlyRunner(const Sandbox& sandbox)
      : sandbox_(sandbox), reason_(testing::why_no_read_only_mount(sandbox.root())) {}

  const std::string& unusable_reason() const { return reason_; }

  RunResult run(const std::string& directory, const std::vector<std::string>& args) const {
    std::vector<std::string> argv = testing::read_only_mount_command(sandbox_.path(directory));
    argv.push_back(binary_path());
    argv.insert(argv.end(), args.begin(), args.end());
    return sandbox_.run_argv(argv, {.timeout = 20s, .binary = argv[0]});
  }

 private:
  const Sandbox& sandbox_;
  std::string reason_;
};

TEST(RestrictedAccess, LogRootOnAReadOnlyFileSystem) {
  Sandbox sandbox;
  const ReadOnlyRunner read_only(sandbox);
  if (!read_only.unusable_reason().empty()) GTEST_SKIP() << read_only.unusable_reason();
  const std::string read_only_error = "Read-only file system (os error 30)";

  // Never run before: the database directory cannot be made.
  sandbox.write({"fresh/shutdown/unsafe/a.json", R"({"boot_timestamp": 10})"});
  auto before = sandbox.snapshot();
  RunResult result = read_only.run("fresh", with_log_root("fresh", {"list"}));
  EXPECT_EQ(result.status, 1) << result;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Error initializing database: " + read_only_error + "\n" + kReadOnlyHint);
  EXPECT_EQ(sandbox.snapshot(), before);

  // Run before, and a log file arrived since: nothing saved, so it is
  // listed without an ID, and the ID it would get names no file.
  sandbox.write({"known/shutdown/unsafe/a.json", R"({"boot_timestamp": 10})"});
  ASSERT_EQ(sandbox.run(with_log_root("known", {"list"})).status, 0);
  sandbox.write({"known/shutdown/unsafe/b.json", R"({"boot_timestamp": 20})"});
  before = sandbox.snapshot();
  result = read_only.run("known", with_log_root("known", {"list"}));
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.err, "sync error: " + read_only_error + "\n" + kReadOnlyHint +
                            "Warning: File known/shutdown/unsafe/b.json not found in database\n");
  EXPECT_EQ(result.out, "[ID:0] known/shutdown/unsafe/b.json\n[ID:1] known/shutdown/unsafe/a.json\n");
  EXPECT_EQ(sandbox.snapshot(), before);

  result = read_only.run("known", with_log_root("known", {"show", "2"}));
  EXPECT_EQ(result.status, 1) << result;
  EXPECT_EQ(result.err, "sync error: " + read_only_error + "\n" + kReadOnlyHint + "File with ID 2 not found\n");
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(sandbox.snapshot(), before);
}

}  // namespace
}  // namespace vexlo::e2e

namespace vexlo::e2e {
namespace {

// --read-only runs: each compared in full, and the tree must be the same
// byte for byte afterwards.
struct ReadOnlyCase {
  std::string log_root;
  std::vector<std::string> args;
  int status;
  std::string out;
  std::string err;
  bool err_in_any_order = false;  // warnings follow the scan, whose order the system decides
};

std::vector<std::string> sorted_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  std::sort(lines.begin(), lines.end());
  return lines;
}

template <class Run>
void expect_read_only_runs(const Sandbox& sandbox, const std::vector<ReadOnlyCase>& cases, Run run) {
  const auto before = sandbox.snapshot();
  for (const auto& c : cases) {
    std::string shown = c.log_root;
    for (const auto& arg : c.args) shown += " [" + arg + "]";
    const RunResult result = run(c.log_root, with_log_root(c.log_root, c.args));
    EXPECT_FALSE(result.timed_out) << shown;
    EXPECT_EQ(result.status, c.status) << shown << '\n' << result;
    EXPECT_EQ(result.out, c.out) << shown;
    if (c.err_in_any_order) {
      EXPECT_EQ(sorted_lines(result.err), sorted_lines(c.err)) << shown;
    } else {
      EXPECT_EQ(result.err, c.err) << shown;
    }
    EXPECT_EQ(sandbox.snapshot(), before) << shown;
  }
}

// Two trees: "fresh", never looked at, and "known", listed once by its
// owner, after which a new log arrived.
void write_read_only_trees(const Sandbox& sandbox) {
  sandbox.write({"fresh/shutdown/unsafe/a.json", R"({"boot_timestamp": 10})"});
  sandbox.write({"fresh/events/b.json", R"({"boot_timestamp": 20})"});
  sandbox.write({"known/shutdown/unsafe/a.json", R"({"boot_timestamp": 10, "reason": "panic"})"});
  sandbox.write({"known/shutdown/unsafe/b.json", R"({"boot_timestamp": 20})"});
  sandbox.write({"known/events/c.json", R"({"boot_timestamp": 30})"});
  ASSERT_EQ(sandbox.run(with_log_root("known", {"list"})).status, 0);
  sandbox.write({"known/shutdown/unsafe/new.json", R"({"boot_timestamp": 40})"});
}

std::string unknown(const std::string& path) { return "Warning: File " + path + " not found in database\n"; }

// What --read-only answers on the two trees, wherever it runs.
std::vector<ReadOnlyCase> read_only_answers() {
  const std::string fresh_unknown = unknown("fresh/shutdown/unsafe/a.json") + unknown("fresh/events/b.json");
  const std::string new_unknown = unknown("known/shutdown/unsafe/new.json");
  return {
      {"fresh", {"--read-only", "list", "--all"}, 0,
       "[ID:0] fresh/events/b.json\n[ID:0] fresh/shutdown/unsafe/a.json\n", fresh_unknown, true},
      {"fresh", {"list", "--read-only", "--json"}, 0,
       "{\"id\":0,\"path\":\"fresh/shutdown/unsafe/a.json\",\"time\":10,\"time_utc\":\"1970-01-01T00:00:10Z\"}\n",
       fresh_unknown, true},
      {"fresh", {"--read-only", "show", "1"}, 1, "", "File with ID 1 not found\n"},
      {"known", {"--read-only", "list", "--all", "--time"}, 0,
       "[ID:0] 1970-01-01 00:00:40 known/shutdown/unsafe/new.json\n"
       "[ID:3] 1970-01-01 00:00:30 known/events/c.json\n"
       "[ID:2] 1970-01-01 00:00:20 known/shutdown/unsafe/b.json\n"
       "[ID:1] 1970-01-01 00:00:10 known/shutdown/unsafe/a.json\n",
       new_unknown},
      {"known", {"logs", "2", "--read-only"}, 0,
       "[ID:0] known/shutdown/unsafe/new.json\n[ID:2] known/shutdown/unsafe/b.json\n", new_unknown},
      {"known", {"show", "1", "--read-only"}, 0, "boot_timestamp\n10\n\nreason\npanic\n\n", ""},
      {"known", {"--read-only", "show", "4"}, 1, "", "File with ID 4 not found\n"},
  };
}

TEST(RestrictedAccess, ReadOnlyAsAnOrdinaryUserOnARootOwnedTree) {
  Sandbox sandbox;
  const UnprivilegedRunner unprivileged(sandbox);
  if (!unprivileged.unusable_reason().empty()) GTEST_SKIP() << unprivileged.unusable_reason();
  write_read_only_trees(sandbox);
  if (::geteuid() != 0) {
    // Not root: the tree belongs to the user, so its directories are made
    // read-only instead.
    for (const char* top : {"fresh", "known"}) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(sandbox.path(top))) {
        if (entry.is_directory()) ::chmod(entry.path().c_str(), 0555);
      }
      ::chmod(sandbox.path(top).c_str(), 0555);
    }
  }
  std::vector<ReadOnlyCase> cases = read_only_answers();
  // Without --read-only the first run fails, and says what to do.
  cases.push_back({"fresh", {"list"}, 1, "",
                   "Error initializing database: Permission denied (os error 13)\n" + std::string(kReadOnlyHint)});
  expect_read_only_runs(sandbox, cases,
                        [&](const std::string&, const std::vector<std::string>& args) { return unprivileged.run(args); });
}

TEST(RestrictedAccess, ReadOnlyOnAReadOnlyMount) {
  Sandbox sandbox;
  const ReadOnlyRunner mounted(sandbox);
  if (!mounted.unusable_reason().empty()) GTEST_SKIP() << mounted.unusable_reason();
  write_read_only_trees(sandbox);
  expect_read_only_runs(sandbox, read_only_answers(),
                        [&](const std::string& log_root, const std::vector<std::string>& args) {
                          return mounted.run(log_root, args);
                        });
}

// Where it could write, --read-only still writes nothing: no directory is
// made, and the database file is not replaced (same inode, same time).
TEST(ReadOnly, WritesNothingEvenWhereItMay) {
  Sandbox sandbox;
  write_read_only_trees(sandbox);
  const std::string db = sandbox.path(database_path("known"));
  struct stat db_before {};
  ASSERT_EQ(::stat(db.c_str(), &db_before), 0);
  expect_read_only_runs(sandbox, read_only_answers(), [&](const std::string&, const std::vector<std::string>& args) {
    return sandbox.run(args);
  });
  EXPECT_FALSE(sandbox.exists("fresh/.config"));
  struct stat db_after {};
  ASSERT_EQ(::stat(db.c_str(), &db_after), 0);
  EXPECT_EQ(db_after.st_ino, db_before.st_ino);
  EXPECT_EQ(db_after.st_mtim.tv_sec, db_before.st_mtim.tv_sec);
  EXPECT_EQ(db_after.st_mtim.tv_nsec, db_before.st_mtim.tv_nsec);
}

}  // namespace
}  // namespace vexlo::e2e
