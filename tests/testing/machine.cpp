#include "testing/machine.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "testing/child_process.h"

extern char** environ;

namespace vexlo::testing {
namespace {

std::string find_program(const char* name) {
  for (const char* dir : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"}) {
    const std::string path = std::string(dir) + name;
    if (::access(path.c_str(), X_OK) == 0) return path;
  }
  return name;
}

// Runs `argv` (its first word a path) with both outputs in one pipe;
// "" when it exits with status 0, else what it printed or why it failed.
std::string run_quietly(const std::vector<std::string>& argv) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return "pipe failed";
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  ::posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  std::vector<char*> raw;
  for (const auto& word : argv) raw.push_back(const_cast<char*>(word.c_str()));
  raw.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  std::string output;
  char chunk[4096];
  for (ssize_t n; spawned == 0 && (n = ::read(fds[0], chunk, sizeof chunk)) > 0;) {
    output.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  if (spawned != 0) return "cannot start " + argv[0] + ": " + std::strerror(spawned);
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return "waitpid failed";
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output.empty() ? argv[0] + " failed" : output;
}

}  // namespace

std::string why_no_second_user(const std::string& path) {
  if (::geteuid() != 0) return "";
  std::string why;
  const auto reached = run_unprivileged(
      [&] { return std::string(::access(path.c_str(), X_OK) == 0 ? "yes" : "no"); }, &why);
  if (!reached) return why + " (user " + std::to_string(kUnprivilegedId) + ")";
  if (*reached != "yes") return "user " + std::to_string(kUnprivilegedId) + " cannot reach " + path;
  return "";
}

std::string why_no_terminal() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
  std::string why;
  const char* name = ::grantpt(master) == 0 && ::unlockpt(master) == 0 ? ::ptsname(master) : nullptr;
  const int slave = name != nullptr ? ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
  struct termios mode {};
  if (slave < 0 || ::tcgetattr(slave, &mode) != 0) {
    why = std::string("cannot open the other side of a pseudo-terminal: ") + std::strerror(errno);
  }
  if (slave >= 0) ::close(slave);
  ::close(master);
  return why;
}

std::string why_no_program(const std::string& path) {
  return ::access(path.c_str(), X_OK) == 0 ? "" : path + " is not installed";
}

std::vector<std::string> read_only_mount_command(const std::string& directory) {
  return {find_program("unshare"), "--mount", "--propagation", "private", "/bin/sh", "-c",
          "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" \"$0\" && exec \"$@\"", directory};
}

std::string why_no_read_only_mount(const std::string& directory) {
  if (::geteuid() != 0) return "mounting needs root";
  std::vector<std::string> argv = read_only_mount_command(directory);
  if (const std::string why = why_no_program(argv[0]); !why.empty()) return why;
  argv.push_back("/bin/true");
  if (const std::string why = run_quietly(argv); !why.empty()) {
    return "cannot make a read-only bind mount here: " + why;
  }
  return "";
}

}  // namespace vexlo::testing
