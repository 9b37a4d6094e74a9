#include "testing/source_tree.h"

#include <cstdlib>

namespace vexlo::testing {

std::string source_dir() {
  const char* from_environment = std::getenv("VEXLO_SOURCE_DIR");
  if (from_environment != nullptr && *from_environment != '\0') return from_environment;
  return VEXLO_BUILT_FROM_SOURCE_DIR;
}

std::string test_data_path(std::string_view relative) {
  return source_dir() + "/tests/data/" + std::string(relative);
}

}  // namespace vexlo::testing
