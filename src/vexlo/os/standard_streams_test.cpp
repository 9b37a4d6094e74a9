#include "vexlo/os/standard_streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace vexlo::os {
namespace {

// Runs `child` in a forked process and returns its exit code.
template <class F>
int in_child(F child) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(child());
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(ReserveStandardDescriptors, ClosedOnesAreTakenAndRefuseWrites) {
  for (const int closed : {kStandardInput, kStandardOutput, kStandardError}) {
    const int code = in_child([closed] {
      ::close(closed);
      reserve_standard_descriptors();
      if (::fcntl(closed, F_GETFD) == -1) return 1;
      // A file opened now must not take a standard number.
      const int other = ::open("/dev/null", O_RDONLY);
      if (other <= kStandardError) return 2;
      if (closed != kStandardInput && (::write(closed, "x", 1) != -1 || errno != EBADF)) return 3;
      return 0;
    });
    EXPECT_EQ(code, 0) << "descriptor " << closed;
  }
}

TEST(ReserveStandardDescriptors, OpenOnesAreLeftAlone) {
  const int code = in_child([] {
    int fds[2];
    if (::pipe(fds) != 0 || ::dup2(fds[1], kStandardOutput) < 0) return 1;
    reserve_standard_descriptors();
    if (::write(kStandardOutput, "y", 1) != 1) return 2;
    char c = 0;
    return ::read(fds[0], &c, 1) == 1 && c == 'y' ? 0 : 3;
  });
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace vexlo::os
