#include "vexlo/os/file_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "testing/temp_dir.h"

namespace vexlo::os {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Directory open_directory(const std::string& path) {
  auto directory = Directory::open(path);
  EXPECT_TRUE(directory) << path;
  return std::move(*directory);
}

TEST(FileLock, SecondHolderWaitsForRelease) {
  testing::ScopedTempDir dir;
  const Directory directory = open_directory(dir.path());
  auto first = FileLock::acquire(directory, "lock", {});
  ASSERT_TRUE(first) << first.error().text;
  ASSERT_TRUE(first->held());
  struct stat sb {};
  ASSERT_EQ(::lstat((dir / "lock").c_str(), &sb), 0);
  EXPECT_EQ(sb.st_mode & 07777, 0600u) << "only the owner may open the lock file";

  // flock locks belong to open file descriptions, so a second acquisition
  // in the same process competes like another process would.
  std::atomic<bool> second_held{false};
  std::thread waiter([&] {
    auto second = FileLock::acquire(directory, "lock", {});
    second_held = second.has_value() && second->held();
  });
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(second_held) << "second holder did not wait";
  first->release();
  EXPECT_FALSE(first->held());
  waiter.join();
  EXPECT_TRUE(second_held);
}

TEST(FileLock, GivesUpAfterTheLimitAndSaysSoOnceOnTheWay) {
  testing::ScopedTempDir dir;
  const Directory directory = open_directory(dir.path());
  auto holder = FileLock::acquire(directory, "lock", {});
  ASSERT_TRUE(holder);
  int notices = 0;
  const LockWait wait{.limit = 300ms, .notice_after = 100ms, .on_long_wait = [&] { ++notices; }};
  const auto started = Clock::now();
  auto second = FileLock::acquire(directory, "lock", wait);
  const auto waited = Clock::now() - started;
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().os_code, EWOULDBLOCK);
  EXPECT_GE(waited, 300ms);
  EXPECT_LT(waited, 2s);
  EXPECT_EQ(notices, 1);
}

TEST(FileLock, FailuresCarryTheSystemError) {
  testing::ScopedTempDir dir;
  testing::make_dirs(dir / "dir");
  ASSERT_EQ(::symlink("elsewhere", (dir / "link").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const Directory directory = open_directory(dir.path());
  const struct {
    const char* name;
    int code;
  } cases[] = {{"dir", EISDIR}, {"link", ELOOP}, {"fifo", EINVAL}, {"missing/lock", ENOENT}};
  for (const auto& c : cases) {
    auto lock = FileLock::acquire(directory, c.name, {});
    ASSERT_FALSE(lock) << c.name;
    EXPECT_EQ(lock.error().os_code, c.code) << c.name;
  }
  struct stat sb {};
  EXPECT_NE(::lstat((dir / "elsewhere").c_str(), &sb), 0) << "created through the link";
  EXPECT_FALSE(FileLock().held());
}

}  // namespace
}  // namespace vexlo::os
