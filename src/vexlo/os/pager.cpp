#include "vexlo/os/pager.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "vexlo/os/os_error.h"

extern char** environ;

namespace vexlo::os {
namespace {

// The pager's environment: this process's, with `added` in place of any
// variable of the same name.
std::vector<std::string> pager_environment(const std::vector<std::string>& added) {
  std::vector<std::string> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    const std::string_view name = variable.substr(0, variable.find('='));
    bool replaced = false;
    for (const auto& addition : added) replaced = replaced || addition.starts_with(std::string(name) + "=");
    if (!replaced) environment.emplace_back(variable);
  }
  environment.insert(environment.end(), added.begin(), added.end());
  return environment;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (auto& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

// The pager starts with the signals at their defaults and none blocked:
// this process ignores SIGPIPE, and an ignored signal stays ignored
// across exec.
Status set_up_attributes(posix_spawnattr_t& attributes) {
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int signal : {SIGINT, SIGQUIT, SIGPIPE, SIGTERM}) sigaddset(&defaults, signal);
  sigset_t none;
  sigemptyset(&none);
  // Effective IDs back to the real ones: a set-id run hands its pager
  // nothing of what it was given.
  const short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_RESETIDS;
  if (::posix_spawnattr_setsigdefault(&attributes, &defaults) != 0 ||
      ::posix_spawnattr_setsigmask(&attributes, &none) != 0 || ::posix_spawnattr_setflags(&attributes, flags) != 0) {
    return std::unexpected(os_error(EINVAL));
  }
  return {};
}

Result<pid_t> spawn_reading_from(int read_end, int write_end, const PagerCommand& command) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (::posix_spawn_file_actions_init(&actions) != 0) return std::unexpected(os_error(ENOMEM));
  if (::posix_spawnattr_init(&attributes) != 0) {
    ::posix_spawn_file_actions_destroy(&actions);
    return std::unexpected(os_error(ENOMEM));
  }
  std::vector<std::string> argv = command.argv;
  std::vector<std::string> environment = pager_environment(command.environment);
  auto raw_argv = pointers(argv);
  auto raw_environment = pointers(environment);
  pid_t pid = -1;
  int failed = ::posix_spawn_file_actions_adddup2(&actions, read_end, 0);
  if (failed == 0) failed = ::posix_spawn_file_actions_addclose(&actions, write_end);
  if (failed == 0 && !set_up_attributes(attributes)) failed = EINVAL;
  if (failed == 0) {
    failed = ::posix_spawnp(&pid, raw_argv[0], &actions, &attributes, raw_argv.data(), raw_environment.data());
  }
  ::posix_spawnattr_destroy(&attributes);
  ::posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return std::unexpected(os_error(failed));
  return pid;
}

}  // namespace

std::optional<TerminalSize> terminal_size(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_row == 0 || size.ws_col == 0) return std::nullopt;
  return TerminalSize{size.ws_row, size.ws_col};
}

bool runs_privileged() {
  return ::geteuid() == 0 || ::getuid() != ::geteuid() || ::getgid() != ::getegid();
}

std::optional<std::string> environment_value(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

Result<PagerProcess> PagerProcess::start(const PagerCommand& command) {
  if (command.argv.empty()) return std::unexpected(os_error(ENOENT));
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::unexpected(os_error(errno));
  FileDescriptor read_end(fds[0]);
  FileDescriptor write_end(fds[1]);
  auto pid = spawn_reading_from(read_end.get(), write_end.get(), command);
  if (!pid) return std::unexpected(pid.error());
  return PagerProcess(*pid, std::move(write_end));
}

PagerProcess::PagerProcess(pid_t pid, FileDescriptor input) : pid_(pid), input_(std::move(input)) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGINT, &ignore, &old_interrupt_);
  ::sigaction(SIGQUIT, &ignore, &old_quit_);
}

PagerProcess::PagerProcess(PagerProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      input_(std::move(other.input_)),
      old_interrupt_(other.old_interrupt_),
      old_quit_(other.old_quit_) {}

PagerProcess::~PagerProcess() { finish(); }

void PagerProcess::finish() {
  if (pid_ < 0) return;
  input_.reset();
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  ::sigaction(SIGINT, &old_interrupt_, nullptr);
  ::sigaction(SIGQUIT, &old_quit_, nullptr);
}

}  // namespace vexlo::os
