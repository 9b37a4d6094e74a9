// vexlo run as root on a log root that another user can write. The other
// user (65534) prepares the tree as an attacker would; the run must change
// nothing outside the log root's ".config", create no set-ID file, wait for
// a foreign lock only a bounded time, scan a tree of linked directories in
// time proportional to the tree, never open what is no regular file, skip
// hostile files at their own cost, and send no raw control characters to a
// terminal. Where the tests do not run as root, user 65534 cannot reach
// the sandbox, or the machine has no mount namespace or pseudo-terminal to
// give (testing/machine.h), they skip and say why.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "e2e/harness.h"
#include "e2e/usage_text.h"
#include "testing/machine.h"

namespace vexlo::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kNoConfig = "no-such-config.toml";
constexpr uid_t kAttacker = 65534;
constexpr const char* kSetpriv = "/usr/bin/setpriv";

// Checks the peak memory of a run, except in a sanitizer build, whose own
// memory (and that of a test process built with it) would hide the run's.
void expect_memory_below(const RunResult& result, [[maybe_unused]] long mib) {
#ifdef VEXLO_BINARY_SANITIZED
  std::printf("peak memory %ld KiB not checked in a sanitizer build\n", result.max_rss_kib);
#else
  EXPECT_LT(result.max_rss_kib, mib * 1024);
#endif
}

std::vector<std::string> with_log_root(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"--config", kNoConfig, "--log-path", "logs"};
  all.insert(all.end(), args.begin(), args.end());
  return all;
}

std::string log_with_time(int boot_timestamp) {
  return "{\"boot_timestamp\": " + std::to_string(boot_timestamp) + ", \"reason\": \"panic\"}";
}

// Content and permission bits of every entry below `top`.
std::map<std::string, std::string> fingerprint(const std::string& top) {
  std::map<std::string, std::string> result;
  for (const auto& entry : fs::recursive_directory_iterator(top)) {
    struct stat sb {};
    ::lstat(entry.path().c_str(), &sb);
    std::string value = std::to_string(sb.st_mode);
    if (S_ISREG(sb.st_mode)) {
      std::ifstream in(entry.path(), std::ios::binary);
      value += ":" + std::string(std::istreambuf_iterator<char>(in), {});
    }
    result[entry.path().string()] = value;
  }
  return result;
}

// Set-ID files of root below `top`: ones the run would have made.
std::vector<std::string> root_set_id_files(const std::string& top) {
  std::vector<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(top)) {
    struct stat sb {};
    if (::lstat(entry.path().c_str(), &sb) == 0 && S_ISREG(sb.st_mode) && sb.st_uid == 0 &&
        (sb.st_mode & (S_ISUID | S_ISGID))) {
      found.push_back(entry.path().string());
    }
  }
  return found;
}

// A log root owned by user 65534, who runs shell steps in it, and a victim
// directory outside it, owned by root.
class AttackedTree {
 public:
  AttackedTree() {
    if (::geteuid() != 0) {
      reason_ = "needs root, to run vexlo as root against another user";
      return;
    }
    ::chmod(sandbox_.root().c_str(), 0755);
    sandbox_.write({"logs/shutdown/unsafe/a.json", log_with_time(10)});
    sandbox_.write({"victim/passwd", "root:x:0:0\n"});
    sandbox_.write({"victim/secret.json", log_with_time(20)});
    sandbox_.write({"victim/tool", "#!/bin/sh\n"});
    ::chmod(sandbox_.path("victim/tool").c_str(), 06755);
    for (const auto& entry : fs::recursive_directory_iterator(sandbox_.path("logs"))) {
      ::lchown(entry.path().c_str(), kAttacker, kAttacker);
    }
    ::lchown(sandbox_.path("logs").c_str(), kAttacker, kAttacker);
    // Root's own link, to a name that the attacker may fill with a link.
    ::symlink("shutdown/unsafe/crash-1.json", sandbox_.path("logs/latest.json").c_str());
    reason_ = testing::why_no_program(kSetpriv);
    if (reason_.empty() && attack("true").status != 0) reason_ = "user 65534 cannot work in " + sandbox_.root();
  }

  const std::string& unusable_reason() const { return reason_; }
  const Sandbox& sandbox() const { return sandbox_; }

  // Runs a shell script as user 65534 in the sandbox, with $V the victim
  // directory.
  RunResult attack(const std::string& script) const {
    return sandbox_.run_argv({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/bin/sh", "-c",
                              "V='" + sandbox_.path("victim") + "'; " + script},
                             {.binary = kSetpriv});
  }

 private:
  Sandbox sandbox_;
  std::string reason_;
};

const std::string kForeignConfig =
    "Warning: the IDs may have been changed by another user: logs/.config belongs to user 65534\n"
    "Warning: log time cache ignored: logs/.config belongs to user 65534\n";
const std::string kNotFound = "Warning: File logs/shutdown/unsafe/a.json not found in database\n";
// No database where the attacker could have removed one: IDs start again.
const std::string kReset =
    "Warning: new database logs/.config/vexlo-db.json: 1 log file numbered from 1; IDs shown before no longer hold\n";

// The attacked tree's one log, without an ID from a run that could not save.
std::string listed(const std::string& err) {
  return err.contains("sync error: ") ? "[ID:0] logs/shutdown/unsafe/a.json\n" : "[ID:1] logs/shutdown/unsafe/a.json\n";
}

TEST(HostileUser, NothingOutsideConfigAndNothingThroughALink) {
  const std::string loop = "Too many levels of symbolic links (os error 40)";
  // A link at the database's name is no database: it is kept as it is,
  // beside the new database, and never read or written through.
  const std::string kept_link = "Warning: damaged database file kept as logs/.config/vexlo-db.json.damaged\n";
  // The attacker made ".config": its IDs are doubted, its cache never trusted.
  const std::string foreign = kForeignConfig;
  const struct {
    const char* name;
    std::string script;  // the attacker's steps, in the sandbox
    int status;
    std::string err;
    bool read_only;  // the log root on a read-only file system: no temporary file can be made
    std::string out = "";  // when not the one log (see listed)
  } cases[] = {
      {"config is a link", "ln -s \"$V\" logs/.config", 1, "Error initializing database: " + loop + "\n", false},
      {"database is a link", "mkdir logs/.config && ln -s \"$V/passwd\" logs/.config/vexlo-db.json", 0, foreign + kept_link,
       false},
      {"database is a link, no temporary file possible",
       "mkdir logs/.config && ln -s \"$V/passwd\" logs/.config/vexlo-db.json", 0,
       foreign + "sync error: Read-only file system (os error 30)\n" + kReadOnlyHint + kNotFound, true},
      {"database is a set-ID file",
       "mkdir logs/.config && echo '{\"files\": [], \"next_file_id\": 1}' > logs/.config/vexlo-db.json && "
       "chmod 6777 logs/.config/vexlo-db.json",
       0, foreign, false},
      {"database is a link to a set-ID file", "mkdir logs/.config && ln -s \"$V/tool\" logs/.config/vexlo-db.json",
       0, foreign + kept_link, false},
      {"temporary name is a link", "mkdir logs/.config && ln -s \"$V/passwd\" logs/.config/vexlo-db.json.tmp.1.0",
       0, foreign + kReset, false},
      {"links to what only root may read", "ln -s \"$V/secret.json\" logs/shutdown/unsafe/crash-1.json && ln -s \"$V\" logs/events",
       0, kReset, false},
      {"config made before the first run, with a cache", "mkdir logs/.config && echo forged > logs/.config/vexlo-cache",
       0, foreign + kReset, false},
      {"database moved away with its directory",
       "mkdir logs/.old-config && echo '{\"files\": [], \"next_file_id\": 9}' > logs/.old-config/vexlo-db.json", 0,
       "Warning: new database logs/.config/vexlo-db.json: 2 log files numbered from 1; IDs shown before no longer hold; "
       "the old database may be logs/.old-config/vexlo-db.json\n",
       false, "[ID:2] logs/.old-config/vexlo-db.json\n[ID:1] logs/shutdown/unsafe/a.json\n"},
      {"lock is a link", "mkdir logs/.config && ln -s \"$V/passwd\" logs/.config/vexlo-db.lock", 0,
       foreign + "sync error: " + loop + "\n" + kNotFound, false},
  };
  std::string no_mount;  // why the read-only case cannot run here
  for (const auto& c : cases) {
    AttackedTree tree;
    if (!tree.unusable_reason().empty()) GTEST_SKIP() << tree.unusable_reason();
    if (c.read_only && no_mount.empty()) no_mount = testing::why_no_read_only_mount(tree.sandbox().root());
    if (c.read_only && !no_mount.empty()) continue;
    ASSERT_EQ(tree.attack(c.script).status, 0) << c.name;
    const auto victim_before = fingerprint(tree.sandbox().path("victim"));
    RunResult result;
    if (c.read_only) {
      std::vector<std::string> argv = testing::read_only_mount_command(tree.sandbox().path("logs"));
      argv.push_back(binary_path());
      for (const auto& arg : with_log_root({"list", "--all"})) argv.push_back(arg);
      result = tree.sandbox().run_argv(argv, {.binary = argv[0]});
    } else {
      result = tree.sandbox().run(with_log_root({"list", "--all"}));
    }
    EXPECT_EQ(result.status, c.status) << c.name << "\n" << result;
    EXPECT_EQ(result.err, c.err) << c.name;
    EXPECT_EQ(result.out, c.status != 0 ? "" : !c.out.empty() ? c.out : listed(c.err)) << c.name;
    EXPECT_EQ(fingerprint(tree.sandbox().path("victim")), victim_before) << c.name;
    EXPECT_EQ(root_set_id_files(tree.sandbox().path("logs")), std::vector<std::string>{}) << c.name;
    struct stat database {};
    if (::lstat(tree.sandbox().path(database_path("logs")).c_str(), &database) == 0 && c.status == 0 &&
        !c.read_only) {
      EXPECT_TRUE(S_ISREG(database.st_mode)) << c.name;
      EXPECT_EQ(database.st_mode & 07111, 0u) << c.name;
    }
  }
  // Every other case has run and been checked.
  if (!no_mount.empty()) GTEST_SKIP() << "the read-only case: " << no_mount;
}

// Holds an exclusive flock on `path` as user 65534 until killed.
pid_t hold_lock_as_attacker(const std::string& path) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(kAttacker, kAttacker, kAttacker) != 0 ||
        ::setresuid(kAttacker, kAttacker, kAttacker) != 0) {
      ::_exit(3);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) ::_exit(4);
    ::pause();
    ::_exit(0);
  }
  return pid;
}

TEST(HostileUser, AForeignLockCostsAtMostTheBound) {
  const struct {
    const char* name;
    const char* locked;  // what the attacker locks
    std::string err;
    std::chrono::seconds at_least, at_most;
  } cases[] = {
      {"the database directory", "logs/.config", kForeignConfig + kReset, 0s, 3s},
      {"a lock file the attacker made", "logs/.config/vexlo-db.lock",
       "Waiting for another vexlo run on logs to finish\n" + kForeignConfig +
       "sync error: another vexlo run kept the database locked for 10 s; nothing is saved\n" + kNotFound,
       10s, 13s},
  };
  for (const auto& c : cases) {
    AttackedTree tree;
    if (!tree.unusable_reason().empty()) GTEST_SKIP() << tree.unusable_reason();
    ASSERT_EQ(tree.attack("mkdir logs/.config && touch logs/.config/vexlo-db.lock").status, 0);
    const pid_t holder = hold_lock_as_attacker(tree.sandbox().path(c.locked));
    ASSERT_GT(holder, 0);
    std::this_thread::sleep_for(200ms);
    ASSERT_EQ(::waitpid(holder, nullptr, WNOHANG), 0) << "the attacker could not take the lock";
    const auto started = Clock::now();
    const RunResult result = tree.sandbox().run(with_log_root({"list", "--all"}));
    const auto took = Clock::now() - started;
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(result.status, 0) << c.name << "\n" << result;
    EXPECT_EQ(result.err, c.err) << c.name;
    EXPECT_EQ(result.out, listed(c.err)) << c.name;
    EXPECT_GE(took, c.at_least) << c.name;
    EXPECT_LT(took, c.at_most) << c.name;
  }
}

// A flood of directory events deep down and of file events near the top
// neither hides a new log from --follow nor delays a stop. The bounds are
// generous for a loaded machine; the figures themselves are measured by
// hand.
TEST(HostileUser, AFloodOfEventsStarvesNoFollower) {
  AttackedTree tree;
  if (!tree.unusable_reason().empty()) GTEST_SKIP() << tree.unusable_reason();
  std::string deep = "logs/deep";
  for (int level = 0; level < 990; ++level) deep += "/d";
  ASSERT_EQ(tree.attack("mkdir -p " + deep).status, 0);
  // The attacker's loops end by themselves, should the test be cut short.
  const std::string as_attacker = "timeout 15 " + std::string(kSetpriv) + " --reuid=65534 --regid=65534 --clear-groups /bin/sh -c ";
  const std::string script =
      "cd '" + tree.sandbox().root() + "' && '" + binary_path() + "' --config " + kNoConfig +
      " --log-path logs list --all --follow > out 2> err & F=$!; sleep 1; " + as_attacker + "'cd " + deep +
      " && while :; do mkdir x; rmdir x; done' & A=$!; " + as_attacker +
      "'while :; do echo {} > logs/r.json; done' & B=$!; sleep 2; "
      "echo '{\"boot_timestamp\": 7}' > logs/shutdown/unsafe/new.json; "
      "i=0; while [ $i -lt 80 ] && ! grep -q new.json out; do sleep 0.1; i=$((i+1)); done; echo \"tenths $i\"; "
      "s=$(date +%s%N); kill -TERM $F; wait $F; echo \"status $?\"; echo \"stop ms $((($(date +%s%N) - s) / 1000000))\"; "
      "kill $A $B; cat out";
  const RunResult result = tree.sandbox().run_argv({"sh", "-c", script}, {.timeout = 20s, .binary = "/bin/sh"});
  ASSERT_FALSE(result.timed_out) << result;
  std::istringstream lines(result.out);
  int tenths = -1, status = -1, stop_ms = -1;
  std::string word;
  while (lines >> word) {
    if (word == "tenths") lines >> tenths;
    if (word == "status") lines >> status;
    if (word == "ms") lines >> stop_ms;
  }
  EXPECT_LT(tenths, 80) << "the new log was not printed within 8 s\n" << result;
  EXPECT_EQ(status, 0) << result;
  EXPECT_GE(stop_ms, 0) << result;
  EXPECT_LT(stop_ms, 3000) << result;
  EXPECT_TRUE(result.out.contains("logs/shutdown/unsafe/new.json\n")) << result;
}

TEST(HostileUser, LinksThatMultiplyPathsCostOnlyTheTree) {
  Sandbox sandbox;
  // Twenty directories, each with two links to the next, and one log at the
  // bottom: 2^20 paths to it through 62 inodes.
  constexpr int kLevels = 20;
  for (int level = 0; level < kLevels; ++level) {
    const std::string here = "logs/d" + std::to_string(level);
    sandbox.make_dir(here);
    for (const char* link : {"a", "b"}) {
      ASSERT_EQ(::symlink(("../d" + std::to_string(level + 1)).c_str(), sandbox.path(here + "/" + link).c_str()), 0);
    }
  }
  sandbox.write({"logs/d" + std::to_string(kLevels) + "/shutdown-unsafe.json", log_with_time(5)});
  const bool sys = ::access("/sys/kernel", F_OK) == 0;
  if (sys) {
    ASSERT_EQ(::symlink("/sys", sandbox.path("logs/sys").c_str()), 0);
  }

  const auto started = Clock::now();
  const RunResult result = sandbox.run(with_log_root({"list", "--all"}), {.timeout = 60s});
  const auto took = Clock::now() - started;
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1) << result.out.substr(0, 500);
  EXPECT_LT(took, 5s) << (sys ? "with a link to /sys" : "");
  expect_memory_below(result, 200);
  EXPECT_LT(sandbox.read(database_path("logs")).size(), 1000u);
}

// A log file that is swapped for a link to a FIFO while runs read it: a
// FIFO opened for writing without blocking succeeds only while a reader
// has it open, so any success means vexlo opened it.
TEST(HostileUser, OnlyRegularFilesAreEverOpened) {
  Sandbox sandbox;
  sandbox.write({"logs/shutdown/unsafe/x.json", log_with_time(10)});
  ASSERT_EQ(::mkfifo(sandbox.path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(sandbox.run(with_log_root({"list"})).out, "[ID:1] logs/shutdown/unsafe/x.json\n");
  sandbox.write({"regular", log_with_time(10)});

  std::atomic<bool> done{false};
  std::atomic<int> fifo_opened{0};
  std::thread detector([&] {
    while (!done) {
      const int fd = ::open(sandbox.path("fifo").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) {
        ++fifo_opened;
        ::close(fd);
      }
    }
  });
  std::thread swapper([&] {
    const std::string log = sandbox.path("logs/shutdown/unsafe/x.json");
    const std::string next = sandbox.path("logs/shutdown/unsafe/next");
    for (bool to_fifo = true; !done; to_fifo = !to_fifo) {
      if (to_fifo) {
        ::symlink(sandbox.path("fifo").c_str(), next.c_str());
      } else {
        ::link(sandbox.path("regular").c_str(), next.c_str());
      }
      ::rename(next.c_str(), log.c_str());
    }
  });
  int shown = 0;
  for (int run = 0; run < 40; ++run) {
    // The entry may have been dropped by a scan that met the FIFO.
    sandbox.write({"logs/.config/vexlo-db.json", database_text({{1, "logs/shutdown/unsafe/x.json"}}, 2)});
    const RunResult result = sandbox.run(with_log_root({"show", "1"}), {.timeout = 10s});
    EXPECT_FALSE(result.timed_out) << result;
    shown += result.out.starts_with("boot_timestamp");
  }
  done = true;
  swapper.join();
  detector.join();
  EXPECT_EQ(fifo_opened, 0);
  std::printf("%d of 40 runs showed the regular file\n", shown);
}

TEST(HostileUser, AHostileFileCostsAtMostItself) {
  Sandbox sandbox;
  sandbox.write({"logs/shutdown/unsafe/a.json", log_with_time(10)});
  const auto sparse = [&](const std::string& name, std::string_view start, off_t size) {
    sandbox.write({name, std::string(start)});
    ASSERT_EQ(::truncate(sandbox.path(name).c_str(), size), 0) << name;
  };
  // Refused for its size, and rejected after one small read.
  sparse("logs/shutdown/unsafe/ten-gib.json", "{", off_t{10} << 30);
  sparse("logs/shutdown/unsafe/zeros.json", "", off_t{2} << 30);
  const auto started = Clock::now();
  RunResult result = sandbox.run(with_log_root({"list", "--all"}));
  EXPECT_LT(Clock::now() - started, 1s);
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "[ID:1] logs/shutdown/unsafe/a.json\n");
  expect_memory_below(result, 100);

  // A file that may be JSON but whose buffer cannot be allocated is skipped
  // like an unreadable one.
  if (const std::string why = testing::why_no_program("/usr/bin/prlimit"); !why.empty()) GTEST_SKIP() << why;
#ifdef VEXLO_BINARY_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit leaves";
#endif
  sparse("logs/shutdown/unsafe/large.json", "{\"boot_timestamp\": 1,", off_t{1536} << 20);
  std::vector<std::string> argv = {"prlimit", "--as=1000000000", binary_path()};
  for (const auto& arg : with_log_root({"list", "--all"})) argv.push_back(arg);
  result = sandbox.run_argv(argv, {.binary = "/usr/bin/prlimit"});
  EXPECT_EQ(result.status, 0) << result;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "[ID:1] logs/shutdown/unsafe/a.json\n");
}

TEST(HostileUser, ControlCharactersNeverReachATerminalRaw) {
  Sandbox sandbox;
  const std::string evil = "logs/shutdown/unsafe/\x1b]0;owned\x07\x1b[2J\n[ID:1] forged.json";
  const std::string evil_shown = "logs/shutdown/unsafe/\\x1b]0;owned\\x07\\x1b[2J\\n[ID:1] forged.json";
  const std::string bad_time = "is not a time expression and is ignored (use -<number>day or YYYY-MM-DD [HH:MM[:SS]])\n";
  sandbox.write({evil, "{\"boot_timestamp\": 10, \"k\\u001b[31m\": \"v\\u009b2J\\tx\\ny\\u0007\"}"});
  const struct {
    std::vector<std::string> args;
    std::string terminal;  // standard output and error together
    std::string pipe_out;
    std::string pipe_err;
  } cases[] = {
      {{"list"}, "[ID:1] " + evil_shown + "\n", "[ID:1] " + evil + "\n", ""},
      // Without colour, whose sequences are vexlo's own (Output.ShowIsColouredOnATerminal).
      {{"show", "1", "--color", "never"}, "boot_timestamp\n10\n\nk\\x1b[31m\nv\\u009b2J\tx\ny\\x07\n\n",
       "boot_timestamp\n10\n\nk\x1b[31m\nv\xc2\x9b" "2J\tx\ny\x07\n\n", ""},
      {{"show", "1", "--pretty", "--color", "never"}, "{\n  \"boot_timestamp\": 10,\n  \"k\\u001b[31m\": \"v\\u009b2J\\tx\\ny\\u0007\"\n}\n",
       "{\n  \"boot_timestamp\": 10,\n  \"k\\u001b[31m\": \"v\xc2\x9b" "2J\\tx\\ny\\u0007\"\n}\n", ""},
      {{"list", "\x1b[2J", "x"}, "Warning: ignoring the filter \"\\x1b[2J\" (only the last filter counts)\n", "",
       "Warning: ignoring the filter \"\\x1b[2J\" (only the last filter counts)\n"},
      {{"logs", "--filter", "none", "--since", "\u202E\u2066\u200B-1day"},
       "Warning: --since value \"\\u202e\\u2066\\u200b-1day\" " + bad_time, "",
       "Warning: --since value \"\u202E\u2066\u200B-1day\" " + bad_time},
      {{"\x1b]0;owned\x07"}, "Unknown command: \\x1b]0;owned\\x07\n" + usage_text("vexlo"), "",
       "Unknown command: \x1b]0;owned\x07\n" + usage_text("vexlo")},
  };
  const std::string no_terminal = testing::why_no_terminal();
  for (const auto& c : cases) {
    if (no_terminal.empty()) {
      const RunResult on_terminal = sandbox.run(with_log_root(c.args), {.stdout_target = StdoutTarget::Terminal});
      // A warning about the command line makes the status 2.
      EXPECT_EQ(on_terminal.status, c.pipe_err.empty() ? 0 : 2) << on_terminal;
      EXPECT_EQ(on_terminal.out, c.terminal) << c.args[0];
    }
    const RunResult on_pipe = sandbox.run(with_log_root(c.args));
    EXPECT_EQ(on_pipe.out, c.pipe_out) << c.args[0];
    EXPECT_EQ(on_pipe.err, c.pipe_err) << c.args[0];
  }
  // The runs into a pipe have been checked.
  if (!no_terminal.empty()) GTEST_SKIP() << "the runs on a terminal: " << no_terminal;
}

}  // namespace
}  // namespace vexlo::e2e
