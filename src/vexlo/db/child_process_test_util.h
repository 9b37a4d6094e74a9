#pragma once
// Test support: running part of a test in a child process, optionally as
// an unprivileged user so that permission checks apply under root too.

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

namespace vexlo::testing {

inline constexpr unsigned kUnprivilegedId = 65534;

// Forks, runs `body` in the child and returns what it returned, or no value
// when the child could not run it (the reason in `*why`). With
// `unprivileged`, a child of root first drops to user and group 65534.
inline std::optional<std::string> run_in_child(const std::function<std::string()>& body, bool unprivileged,
                                               std::string* why) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    *why = "pipe failed";
    return std::nullopt;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    *why = "fork failed";
    return std::nullopt;
  }
  if (pid == 0) {
    ::close(fds[0]);
    if (unprivileged && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setresgid(kUnprivilegedId, kUnprivilegedId, kUnprivilegedId) != 0 ||
         ::setresuid(kUnprivilegedId, kUnprivilegedId, kUnprivilegedId) != 0)) {
      ::_exit(3);
    }
    const std::string result = body();
    for (size_t done = 0; done < result.size();) {
      const ssize_t n = ::write(fds[1], result.data() + done, result.size() - done);
      if (n <= 0) ::_exit(4);
      done += static_cast<size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string output;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0) break;
    output.append(buffer, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return output;
  *why = WIFEXITED(status) && WEXITSTATUS(status) == 3 ? "cannot switch to an unprivileged user"
                                                        : "child process failed";
  return std::nullopt;
}

// Runs `body` where permission checks apply: in this process when it is not
// privileged, else in a child as user 65534.
inline std::optional<std::string> run_unprivileged(const std::function<std::string()>& body, std::string* why) {
  if (::geteuid() != 0) return body();
  return run_in_child(body, true, why);
}

}  // namespace vexlo::testing
