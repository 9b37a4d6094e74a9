// Runs the binary with posix_spawn (no shell), reads both of its output
// pipes at once so that neither can fill up and block it, and kills it when
// it outlives its timeout so that a hung run fails the test instead of
// hanging the suite.

#include "e2e/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vexlo::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::int64_t wall_seconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    reset();
    fd_ = std::exchange(other.fd_, -1);
    return *this;
  }
  ~Fd() { reset(); }
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read_end;
  Fd write_end;
};

// A pseudo-terminal in raw mode (no line-ending translation, no echo): the
// read end is its master, the write end its slave.
Pipe make_terminal(int rows) {
  Fd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  check(master.get() >= 0 && ::grantpt(master.get()) == 0 && ::unlockpt(master.get()) == 0, "posix_openpt");
  const char* name = ::ptsname(master.get());
  check(name != nullptr, "ptsname");
  Fd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  check(slave.get() >= 0, "open pseudo-terminal");
  struct termios mode {};
  check(::tcgetattr(slave.get(), &mode) == 0, "tcgetattr");
  ::cfmakeraw(&mode);
  check(::tcsetattr(slave.get(), TCSANOW, &mode) == 0, "tcsetattr");
  const winsize size{.ws_row = static_cast<unsigned short>(rows), .ws_col = 80, .ws_xpixel = 0, .ws_ypixel = 0};
  check(rows == 0 || ::ioctl(slave.get(), TIOCSWINSZ, &size) == 0, "TIOCSWINSZ");
  return {std::move(master), std::move(slave)};
}

// The test's environment with `added` in place of variables of the same name.
std::vector<std::string> environment_with(const std::vector<std::string>& added) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable(*entry);
    const std::string name = variable.substr(0, variable.find('=') + 1);
    if (std::none_of(added.begin(), added.end(), [&](const std::string& a) { return a.starts_with(name); })) {
      environment.push_back(variable);
    }
  }
  environment.insert(environment.end(), added.begin(), added.end());
  return environment;
}

Pipe make_pipe() {
  int fds[2];
  check(::pipe2(fds, O_CLOEXEC) == 0, "pipe2");
  return {Fd(fds[0]), Fd(fds[1])};
}

class SpawnActions {
 public:
  SpawnActions() { check(::posix_spawn_file_actions_init(&actions_) == 0, "file actions"); }
  ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
 public:
  // The child starts with default signal handling and an empty mask,
  // whatever the test process has set for itself.
  SpawnAttributes() {
    check(::posix_spawnattr_init(&attr_) == 0, "spawn attributes");
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    ::posix_spawnattr_setsigmask(&attr_, &none);
    ::posix_spawnattr_setsigdefault(&attr_, &defaults);
    ::posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&attr_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

// Reads both pipes until both are closed or the deadline passes; returns
// false on timeout.
bool read_outputs(Fd& out, Fd& err, RunResult& result, Clock::time_point deadline) {
  struct Source {
    Fd* fd;
    std::string* text;
  } sources[] = {{&out, &result.out}, {&err, &result.err}};
  for (;;) {
    pollfd polled[2];
    int count = 0;
    Source* polled_sources[2];
    for (auto& source : sources) {
      if (source.fd->get() < 0) continue;
      polled[count] = {source.fd->get(), POLLIN, 0};
      polled_sources[count++] = &source;
    }
    if (count == 0) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    const int ready = ::poll(polled, static_cast<nfds_t>(count), static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    check(ready >= 0, "poll");
    for (int i = 0; i < count; ++i) {
      if (polled[i].revents == 0) continue;
      char chunk[1 << 16];
      const ssize_t n = ::read(polled[i].fd, chunk, sizeof chunk);
      if (n > 0) {
        polled_sources[i]->text->append(chunk, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        polled_sources[i]->fd->reset();
      }
    }
  }
}

// Waits for the child until the deadline; kills it when the deadline passes.
void wait_for(pid_t pid, RunResult& result, Clock::time_point deadline) {
  int status = 0;
  struct rusage usage {};
  for (;;) {
    const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) throw std::runtime_error("waitpid failed");
    if (Clock::now() >= deadline) {
      result.timed_out = true;
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.max_rss_kib = usage.ru_maxrss;
}

}  // namespace

std::string binary_path() { return VEXLO_BINARY; }

std::optional<std::string> source_dir() {
  const char* dir = std::getenv("VEXLO_SOURCE_DIR");
  if (dir == nullptr || *dir == '\0') return std::nullopt;
  return std::string(dir);
}

std::ostream& operator<<(std::ostream& os, const RunResult& result) {
  os << "status " << result.status;
  if (result.signal != 0) os << ", signal " << result.signal;
  if (result.timed_out) os << ", timed out";
  return os << "\n--- stdout ---\n" << result.out << "--- stderr ---\n" << result.err << "---";
}

void Sandbox::write(const TreeFile& file) const { testing::write_file(path(file.path), file.content, file.mtime); }

void Sandbox::write_tree(std::span<const TreeFile> files) const {
  for (const auto& file : files) write(file);
}

void Sandbox::make_dir(std::string_view relative) const { testing::make_dirs(path(relative)); }

std::string Sandbox::read(std::string_view relative) const { return testing::read_file(path(relative)); }

bool Sandbox::exists(std::string_view relative) const {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path(relative), ec));
}

void Sandbox::copy_in(const std::string& from, std::string_view to) const {
  fs::copy(from, path(to), fs::copy_options::recursive);
}

RunResult Sandbox::run(const std::vector<std::string>& args, const RunOptions& options) const {
  std::vector<std::string> argv = {"vexlo"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_argv(argv, options);
}

RunResult Sandbox::run_argv(const std::vector<std::string>& argv, const RunOptions& options) const {
  const std::string binary = options.binary.value_or(binary_path());
  const std::string directory = path(options.working_directory);
  std::vector<char*> raw_argv;
  for (const auto& arg : argv) raw_argv.push_back(const_cast<char*>(arg.c_str()));
  raw_argv.push_back(nullptr);

  const bool terminal = options.stdout_target == StdoutTarget::Terminal;
  Pipe out = terminal ? make_terminal(options.terminal_rows) : make_pipe();
  Pipe err = make_pipe();
  SpawnActions actions;
  SpawnAttributes attributes;
  check(::posix_spawn_file_actions_addchdir_np(actions.get(), directory.c_str()) == 0, "addchdir");
  ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  switch (options.stdout_target) {
    case StdoutTarget::Capture:
      ::posix_spawn_file_actions_adddup2(actions.get(), out.write_end.get(), 1);
      break;
    case StdoutTarget::ClosedPipe:
      out.read_end.reset();
      ::posix_spawn_file_actions_adddup2(actions.get(), out.write_end.get(), 1);
      break;
    case StdoutTarget::DevFull:
      ::posix_spawn_file_actions_addopen(actions.get(), 1, "/dev/full", O_WRONLY, 0);
      break;
    case StdoutTarget::Closed:
      ::posix_spawn_file_actions_addclose(actions.get(), 1);
      break;
    case StdoutTarget::Terminal:
      ::posix_spawn_file_actions_adddup2(actions.get(), out.write_end.get(), 1);
      break;
  }
  if (options.close_stderr) {
    ::posix_spawn_file_actions_addclose(actions.get(), 2);
  } else if (options.merge_stderr || terminal) {
    ::posix_spawn_file_actions_adddup2(actions.get(), out.write_end.get(), 2);
  } else {
    ::posix_spawn_file_actions_adddup2(actions.get(), err.write_end.get(), 2);
  }

  RunResult result;
  result.started_at = wall_seconds();
  const auto deadline = Clock::now() + options.timeout;
  pid_t pid = 0;
  std::vector<std::string> environment = environment_with(options.environment);
  std::vector<char*> raw_environment;
  for (auto& variable : environment) raw_environment.push_back(variable.data());
  raw_environment.push_back(nullptr);
  const int spawned =
      ::posix_spawn(&pid, binary.c_str(), actions.get(), attributes.get(), raw_argv.data(), raw_environment.data());
  if (spawned != 0) throw std::runtime_error("cannot start " + binary + ": " + std::strerror(spawned));
  // Only the child may hold the write ends, so that end of file means the
  // child has closed its outputs.
  out.write_end.reset();
  err.write_end.reset();
  if (options.close_stderr || options.merge_stderr || terminal) err.read_end.reset();

  // After a timeout the deadline has passed, so wait_for kills at once.
  if (!read_outputs(out.read_end, err.read_end, result, deadline)) result.timed_out = true;
  wait_for(pid, result, deadline);
  result.ended_at = wall_seconds();
  return result;
}

std::map<std::string, std::string> Sandbox::snapshot() const {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root())) {
    const std::string relative = fs::relative(entry.path(), root()).string();
    const auto status = entry.symlink_status();
    if (fs::is_symlink(status)) {
      entries[relative] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (fs::is_directory(status)) {
      entries[relative] = "<dir>";
    } else if (fs::is_regular_file(status)) {
      entries[relative] = testing::read_file(entry.path().string());
    } else {
      entries[relative] = "<other>";
    }
  }
  return entries;
}

std::string database_path(std::string_view log_root) {
  std::string path(log_root);
  if (!path.empty() && path.back() != '/') path += '/';
  return path + ".config/vexlo-db.json";
}

::testing::AssertionResult database_matches(std::string_view actual, std::string_view expected,
                                            std::int64_t earliest, std::int64_t latest) {
  constexpr std::string_view kKey = "\"last_sync\": ";
  const std::size_t key = actual.find(kKey);
  if (key == std::string_view::npos) return ::testing::AssertionFailure() << "no last_sync in\n" << actual;
  const std::size_t start = key + kKey.size();
  std::size_t end = start;
  if (end < actual.size() && actual[end] == '-') ++end;
  while (end < actual.size() && actual[end] >= '0' && actual[end] <= '9') ++end;
  const std::string digits(actual.substr(start, end - start));
  char* parsed_end = nullptr;
  const long long value = std::strtoll(digits.c_str(), &parsed_end, 10);
  if (digits.empty() || *parsed_end != '\0' || value < earliest || value > latest) {
    return ::testing::AssertionFailure() << "last_sync " << digits << " outside [" << earliest << ", " << latest
                                         << "]";
  }
  std::string masked(actual);
  masked.replace(start, end - start, kLastSync);
  if (masked != expected) {
    return ::testing::AssertionFailure() << "database differs\n--- actual ---\n"
                                         << masked << "\n--- expected ---\n"
                                         << expected << "\n---";
  }
  return ::testing::AssertionSuccess();
}

namespace {

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
          out += escape;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

}  // namespace

std::string database_text(const std::vector<std::pair<std::uint64_t, std::string>>& entries,
                          std::uint64_t next_file_id) {
  std::ostringstream text;
  text << "{\n  \"files\": ";
  if (entries.empty()) {
    text << "[]";
  } else {
    text << "[\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
      text << "    {\n      \"id\": " << entries[i].first << ",\n      \"path\": " << json_string(entries[i].second)
           << "\n    }" << (i + 1 < entries.size() ? ",\n" : "\n");
    }
    text << "  ]";
  }
  text << ",\n  \"last_sync\": " << kLastSync << ",\n  \"next_file_id\": " << next_file_id << "\n}";
  return text.str();
}

}  // namespace vexlo::e2e
