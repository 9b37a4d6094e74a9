#include "testing/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <exception>
#include <filesystem>

namespace vexlo::testing {
namespace {

// Exit statuses of the child that say why it gave no result.
constexpr int kCannotDrop = 3;
constexpr int kCannotReport = 4;
constexpr int kBodyThrew = 5;

bool write_all(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

[[noreturn]] void run_child(const std::function<std::string()>& body, bool unprivileged, int report_fd) {
  if (unprivileged && ::geteuid() == 0 && !drop_privileges()) ::_exit(kCannotDrop);
  std::string result;
  try {
    result = body();
  } catch (const std::exception& error) {
    // The parent reports what was thrown.
    write_all(report_fd, error.what());
    ::_exit(kBodyThrew);
  } catch (...) {
    ::_exit(kBodyThrew);
  }
  ::_exit(write_all(report_fd, result) ? 0 : kCannotReport);
}

std::string read_all(int fd) {
  std::string output;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0) break;
    output.append(buffer, static_cast<std::size_t>(n));
  }
  return output;
}

std::string failure_of(int status, const std::string& output) {
  if (!WIFEXITED(status)) return "child process was killed by signal " + std::to_string(WTERMSIG(status));
  switch (WEXITSTATUS(status)) {
    case kCannotDrop:
      return "cannot switch to an unprivileged user";
    case kBodyThrew:
      return "child process threw an exception: " + output;
    default:
      return "child process failed with status " + std::to_string(WEXITSTATUS(status));
  }
}

}  // namespace

bool drop_privileges() {
  return ::setgroups(0, nullptr) == 0 &&
         ::setresgid(kUnprivilegedId, kUnprivilegedId, kUnprivilegedId) == 0 &&
         ::setresuid(kUnprivilegedId, kUnprivilegedId, kUnprivilegedId) == 0;
}

std::optional<std::string> run_in_child(const std::function<std::string()>& body, bool unprivileged,
                                        std::string* why) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    *why = "pipe failed";
    return std::nullopt;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    *why = "fork failed";
    return std::nullopt;
  }
  if (pid == 0) {
    ::close(fds[0]);
    run_child(body, unprivileged, fds[1]);
  }
  ::close(fds[1]);
  const std::string output = read_all(fds[0]);
  ::close(fds[0]);
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) {
    *why = "waitpid failed";
    return std::nullopt;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return output;
  *why = failure_of(status, output);
  return std::nullopt;
}

std::optional<std::string> run_unprivileged(const std::function<std::string()>& body, std::string* why) {
  if (::geteuid() != 0) return body();
  return run_in_child(body, true, why);
}

std::string give_to_unprivileged_user(const std::string& path) {
  if (::geteuid() != 0) return "";
  if (::lchown(path.c_str(), kUnprivilegedId, kUnprivilegedId) != 0) return "cannot give away " + path;
  std::error_code error;
  if (!std::filesystem::is_directory(std::filesystem::symlink_status(path, error))) return "";
  for (std::filesystem::recursive_directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
    if (::lchown(it->path().c_str(), kUnprivilegedId, kUnprivilegedId) != 0) {
      return "cannot give away " + it->path().string();
    }
  }
  return error ? "cannot walk " + path + ": " + error.message() : "";
}

}  // namespace vexlo::testing
