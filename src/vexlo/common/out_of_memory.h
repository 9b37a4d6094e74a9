#pragma once
// Running out of memory, handled one way everywhere. A run spends memory in
// proportion to what it takes in: a log file, the configuration, the
// database file, a document to show. When an allocation for one such input
// fails, that input has failed as a file that cannot be read fails: the
// failure is a value (for the system's error text, ENOMEM: "Cannot allocate
// memory (os error 12)"), reported where that input's failures are
// reported, and the run goes on as it would then. Only the code that takes
// one input in catches, through within_memory below; an allocation that
// fails anywhere else reaches main, which ends the run with "vexlo: " and
// that same text, exit status 1.

#include <new>

namespace vexlo {

// The result of `work`, or that of `fallback` when an allocation in `work`
// fails.
template <class Work, class Fallback>
auto within_memory(Work&& work, Fallback&& fallback) -> decltype(work()) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    return fallback();
  }
}

}  // namespace vexlo
