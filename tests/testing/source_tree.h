#pragma once
// Where the tests find the files of the project's source tree, such as the
// conformance suites in tests/data.

#include <string>
#include <string_view>

namespace vexlo::testing {

// The source tree: VEXLO_SOURCE_DIR when set (ctest sets it), else the tree
// the tests were built from.
std::string source_dir();

// A path below tests/data of the source tree.
std::string test_data_path(std::string_view relative);

}  // namespace vexlo::testing
