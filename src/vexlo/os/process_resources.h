#pragma once
// What the process may use and has used: open files and processor time.

#include <chrono>
#include <cstdint>

namespace vexlo::os {

// Raises the soft limit on open files to the hard limit, so that a deep
// tree or many threads reading logs do not run short of descriptors where
// the system would allow more. Does nothing where it cannot.
void raise_open_file_limit();

// How many files the process may have open at once (the soft limit);
// none known: as many as a 64-bit count holds.
std::uint64_t open_file_limit();

// The processor time the process has used so far, all threads together.
std::chrono::nanoseconds processor_time();

}  // namespace vexlo::os
