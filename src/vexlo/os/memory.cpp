#include "vexlo/os/memory.h"

#include <malloc.h>

#include <climits>

namespace vexlo::os {

void retain_freed_memory() {
#if defined(__GLIBC__)
  // Large blocks would otherwise get mappings of their own, unmapped when
  // freed; from the heap they are reused. The heap's free top is kept too.
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, INT_MAX);
#endif
}

void release_freed_memory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace vexlo::os
