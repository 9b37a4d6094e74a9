#include "vexlo/os/directory_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "testing/temp_dir.h"

namespace vexlo::os {
namespace {

using namespace std::chrono_literals;

TEST(DirectoryLock, SecondHolderWaitsForRelease) {
  testing::ScopedTempDir dir;
  auto first = DirectoryLock::acquire(dir.path());
  ASSERT_TRUE(first) << first.error().text;
  ASSERT_TRUE(first->held());

  // flock locks belong to open file descriptions, so a second acquisition
  // in the same process competes like another process would.
  std::atomic<bool> second_held{false};
  std::thread waiter([&] {
    auto second = DirectoryLock::acquire(dir.path());
    second_held = second.has_value() && second->held();
  });
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(second_held) << "second holder did not wait";
  first->release();
  EXPECT_FALSE(first->held());
  waiter.join();
  EXPECT_TRUE(second_held);
}

TEST(DirectoryLock, FailuresCarryTheSystemError) {
  testing::ScopedTempDir dir;
  testing::write_file(dir / "file", "x");
  const struct {
    const char* relative;
    int code;
  } cases[] = {{"missing", ENOENT}, {"file", ENOTDIR}};
  for (const auto& c : cases) {
    auto lock = DirectoryLock::acquire(dir / c.relative);
    ASSERT_FALSE(lock) << c.relative;
    EXPECT_EQ(lock.error().os_code, c.code) << c.relative;
  }
  EXPECT_FALSE(DirectoryLock().held());
}

}  // namespace
}  // namespace vexlo::os
