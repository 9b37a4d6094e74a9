#pragma once
// Starting the helper threads of a parallel read.

#include <cstddef>
#include <thread>
#include <vector>

namespace vexlo {

// Starts up to `count` threads that run `work`, as many as the system
// gives: when no more can be had, those there are do the work. The threads
// are joined when the returned vector goes.
template <class Work>
std::vector<std::jthread> start_threads(std::size_t count, const Work& work) {
  std::vector<std::jthread> threads;
  threads.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    // A thread the system refuses, or memory for one that runs out, leaves
    // the work to the threads already started: throwing would join them
    // while they may wait for work their caller has yet to give.
    try {
      threads.emplace_back(work);
    } catch (...) {
      break;
    }
  }
  return threads;
}

}  // namespace vexlo
