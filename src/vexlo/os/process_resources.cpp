#include "vexlo/os/process_resources.h"

#include <sys/resource.h>
#include <time.h>

namespace vexlo::os {

void raise_open_file_limit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  (void)::setrlimit(RLIMIT_NOFILE, &limit);
}

std::uint64_t open_file_limit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
  return limit.rlim_cur;
}

std::chrono::nanoseconds processor_time() {
  timespec spent{};
  if (::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &spent) != 0) return {};
  return std::chrono::seconds(spent.tv_sec) + std::chrono::nanoseconds(spent.tv_nsec);
}

}  // namespace vexlo::os
