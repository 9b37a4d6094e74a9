#pragma once
// A pager started as a child process, fed through a pipe, and what the
// process needs to know to choose one: the terminal's size, whether it
// runs with privileges the pager must not hand on, and the environment.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include <signal.h>

#include "vexlo/common/error.h"
#include "vexlo/os/file_descriptor.h"

namespace vexlo::os {

struct TerminalSize {
  int rows = 0;
  int columns = 0;
};

// The size of the terminal on `fd`; none when it is no terminal or does not
// know its size (a pseudo-terminal nobody sized reports 0 rows).
std::optional<TerminalSize> terminal_size(int fd);

// Whether the process runs as root or with identities its caller does not
// have (set-user-ID or set-group-ID): a program it starts must not give
// its user a way to run commands with them.
bool runs_privileged();

// The value of an environment variable, also when it is empty; none when
// it is not set.
std::optional<std::string> environment_value(const char* name);

struct PagerCommand {
  std::vector<std::string> argv;         // argv[0] is looked up in PATH
  std::vector<std::string> environment;  // "NAME=value", set for the pager alone

  bool operator==(const PagerCommand&) const = default;
};

// A running pager whose standard input is a pipe from this process. It
// runs with the real user and group IDs of this process, so a set-id
// program gives it nothing of its own. While it runs, this process ignores
// SIGINT and SIGQUIT, which the terminal sends to both: the pager takes
// them, and the run must not end under it.
class PagerProcess {
 public:
  // Fails when the pager cannot be started (not found, say).
  static Result<PagerProcess> start(const PagerCommand& command);
  PagerProcess(PagerProcess&& other) noexcept;
  PagerProcess& operator=(PagerProcess&&) = delete;
  PagerProcess(const PagerProcess&) = delete;
  PagerProcess& operator=(const PagerProcess&) = delete;
  ~PagerProcess();

  // The write end of the pager's standard input.
  int input() const { return input_.get(); }
  // Closes the input and waits until the pager has ended.
  void finish();

 private:
  PagerProcess(pid_t pid, FileDescriptor input);

  pid_t pid_ = -1;
  FileDescriptor input_;
  struct sigaction old_interrupt_ {};
  struct sigaction old_quit_ {};
};

}  // namespace vexlo::os
