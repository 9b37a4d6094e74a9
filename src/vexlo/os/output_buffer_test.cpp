#include "vexlo/os/output_buffer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>

#include "testing/temp_dir.h"
#include "vexlo/os/file_descriptor.h"
#include "vexlo/os/file_system.h"
#include "vexlo/os/standard_streams.h"

namespace vexlo::os {
namespace {

struct Pipe {
  FileDescriptor read_end;
  FileDescriptor write_end;
};

Pipe make_pipe() {
  int fds[2];
  EXPECT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
  return {FileDescriptor(fds[0]), FileDescriptor(fds[1])};
}

std::string drain(const FileDescriptor& fd) {
  std::string data;
  char chunk[4096];
  for (ssize_t n; (n = ::read(fd.get(), chunk, sizeof chunk)) > 0;) data.append(chunk, static_cast<size_t>(n));
  return data;
}

TEST(OutputBuffer, HoldsOutputUntilFlushed) {
  Pipe pipe = make_pipe();
  OutputBuffer buffer(pipe.write_end.get(), 1024);
  std::ostream out(&buffer);
  out << "[ID:1] a\n" << '[' << 2 << "] b\n";
  EXPECT_EQ(drain(pipe.read_end), "");
  ASSERT_TRUE(buffer.flush());
  EXPECT_EQ(drain(pipe.read_end), "[ID:1] a\n[2] b\n");
}

TEST(OutputBuffer, KeepsEveryByteInOrderAcrossTheCapacity) {
  // Pieces smaller than, equal to and larger than the buffer, in a row.
  const std::size_t sizes[] = {1, 7, 15, 16, 17, 3, 40, 16, 0, 2, 100, 1};
  testing::ScopedTempDir dir;
  const std::string path = dir / "out";
  FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  ASSERT_TRUE(file.valid());
  std::string expected;
  {
    OutputBuffer buffer(file.get(), 16);
    std::ostream out(&buffer);
    char next = 'a';
    for (const std::size_t size : sizes) {
      std::string piece;
      for (std::size_t i = 0; i < size; ++i, next = next == 'z' ? 'a' : static_cast<char>(next + 1)) {
        piece.push_back(next);
      }
      if (size == 1) {
        out.put(piece[0]);
      } else {
        out << piece;
      }
      expected += piece;
    }
    ASSERT_TRUE(buffer.flush());
  }
  EXPECT_EQ(testing::read_file(path), expected);
}

TEST(OutputBuffer, TwoBuffersOnOneFileKeepProgramOrder) {
  testing::ScopedTempDir dir;
  const std::string path = dir / "both";
  FileDescriptor first(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
  FileDescriptor second(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
  ASSERT_TRUE(first.valid() && second.valid());
  {
    OutputBuffer out_buffer(first.get(), 1 << 16);
    OutputBuffer err_buffer(second.get(), 1 << 16);
    out_buffer.flush_before_writing(err_buffer);
    err_buffer.flush_before_writing(out_buffer);
    std::ostream out(&out_buffer);
    std::ostream err(&err_buffer);
    out << "parse config error: x\n";
    err << "sync error: y\n";
    err << "Warning: File z not found in database\n";
    out << '[' << "ID:0] z\n";
    err.put('!');
    out.put('\n');
    ASSERT_TRUE(out_buffer.flush());
    ASSERT_TRUE(err_buffer.flush());
  }
  EXPECT_EQ(testing::read_file(path),
            "parse config error: x\nsync error: y\nWarning: File z not found in database\n[ID:0] z\n!\n");
}

TEST(OutputBuffer, KeepsTheFirstWriteErrorAndDropsLaterOutput) {
  ignore_broken_pipe_signal();
  Pipe closed = make_pipe();
  closed.read_end.reset();
  FileDescriptor full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
  ASSERT_TRUE(full.valid());
  const struct {
    int fd;
    int errnum;
  } cases[] = {{closed.write_end.get(), EPIPE}, {full.get(), ENOSPC}, {-1, EBADF}};
  for (const auto& c : cases) {
    OutputBuffer buffer(c.fd, 64);
    std::ostream out(&buffer);
    out << "first line\n";
    EXPECT_TRUE(out.good());  // nothing written yet
    const auto flushed = buffer.flush();
    ASSERT_FALSE(flushed);
    EXPECT_EQ(flushed.error().os_code, c.errnum);
    EXPECT_EQ(flushed.error().text, error_text(c.errnum));
    out << "later output\n";
    EXPECT_TRUE(out.bad());
    ASSERT_TRUE(buffer.error());
    EXPECT_EQ(buffer.error()->os_code, c.errnum);
  }
}

TEST(WriteAll, WaitsOnANonBlockingPipeInsteadOfDroppingOutput) {
  Pipe pipe = make_pipe();  // non-blocking on both ends
  const std::string big(1 << 20, 'x');
  const pid_t reader = ::fork();
  ASSERT_GE(reader, 0);
  if (reader == 0) {
    pipe.write_end.reset();
    std::size_t total = 0;
    char chunk[1 << 14];
    for (;;) {
      const ssize_t n = ::read(pipe.read_end.get(), chunk, sizeof chunk);
      if (n == 0) break;
      if (n > 0) total += static_cast<std::size_t>(n);
      if (n < 0) ::usleep(100);
    }
    ::_exit(total == big.size() ? 0 : 1);
  }
  pipe.read_end.reset();
  EXPECT_TRUE(write_all(pipe.write_end.get(), big));
  pipe.write_end.reset();
  int status = 0;
  ASSERT_EQ(::waitpid(reader, &status, 0), reader);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace vexlo::os
