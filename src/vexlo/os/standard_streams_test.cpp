#include "vexlo/os/standard_streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vexlo/os/file_descriptor.h"

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

// A terminal whose other side has closed, as a closed window leaves it, and
// a pipe whose writer has ended are hung up; while the other side is there
// they are not, read or not.
TEST(HungUp, OnlyWhenTheOtherSideHasGone) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const FileDescriptor pipe_read(fds[0]);
  FileDescriptor pipe_write(fds[1]);
  FileDescriptor master(::posix_openpt(O_RDWR | O_NOCTTY));
  if (!master.valid()) GTEST_SKIP() << "no pseudo-terminal: " << std::strerror(errno);
  ASSERT_EQ(::grantpt(master.get()) | ::unlockpt(master.get()), 0);
  const FileDescriptor terminal(::open(::ptsname(master.get()), O_RDWR | O_NOCTTY));
  ASSERT_TRUE(terminal.valid());
  ASSERT_EQ(::write(master.get(), "x", 1), 1);
  EXPECT_FALSE(hung_up(pipe_read.get()));
  EXPECT_FALSE(hung_up(terminal.get()));
  pipe_write.reset();
  master.reset();
  EXPECT_TRUE(hung_up(pipe_read.get()));
  EXPECT_TRUE(hung_up(terminal.get()));
}

}  // namespace
}  // namespace vexlo::os
