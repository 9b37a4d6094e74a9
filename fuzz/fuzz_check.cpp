#include "fuzz_check.h"

#include <stdlib.h>

namespace vexlo::fuzz {

std::string make_scratch_directory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vexlo-fuzz-XXXXXX";
  require(::mkdtemp(pattern.data()) != nullptr, "cannot make a scratch directory", pattern);
  return pattern;
}

}  // namespace vexlo::fuzz
