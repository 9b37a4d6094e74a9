#include "vexlo/os/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace vexlo::os {
namespace {

// Resident pages of the process, from /proc/self/statm.
std::int64_t resident_pages() {
  std::ifstream statm("/proc/self/statm");
  std::int64_t size = 0;
  std::int64_t resident = -1;
  statm >> size >> resident;
  return resident;
}

TEST(RetainFreedMemory, ABlockFreedIsReusedWithoutNewPages) {
  if (resident_pages() < 0) GTEST_SKIP() << "/proc/self/statm cannot be read";
#if !defined(__GLIBC__)
  GTEST_SKIP() << "only the GNU C library is tuned";
#elif defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer brings its own allocator";
#endif
  retain_freed_memory();
  constexpr std::size_t kSize = std::size_t{64} << 20;
  constexpr std::int64_t kPages = kSize / 4096;
  // Volatile, so that the compiler keeps blocks it could see are unused.
  char* volatile first = static_cast<char*>(std::malloc(kSize));
  ASSERT_NE(first, nullptr);
  std::memset(first, 1, kSize);
  std::free(first);
  const std::int64_t before = resident_pages();
  char* volatile second = static_cast<char*>(std::malloc(kSize));
  ASSERT_NE(second, nullptr);
  std::memset(second, 2, kSize);
  const std::int64_t grown = resident_pages() - before;
  std::free(second);
  // Without the setting the freed block goes back to the system and the
  // second one brings in all its pages anew.
  EXPECT_LT(grown, kPages / 2);
}

}  // namespace
}  // namespace vexlo::os
