#pragma once
// Checks of the fuzz targets: a broken expectation prints what was expected
// and aborts, which libFuzzer reports as a crash and keeps the input.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace vexlo::fuzz {

inline void require(bool holds, std::string_view what, std::string_view detail = {}) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %.*s\n%.*s\n", static_cast<int>(what.size()), what.data(),
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

// A fresh directory below $TMPDIR (or /tmp) for the whole fuzzing process.
std::string make_scratch_directory();

}  // namespace vexlo::fuzz
