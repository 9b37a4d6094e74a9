#pragma once
// One run of the tool, from the process arguments to the exit status.

#include <ostream>
#include <span>
#include <string_view>

namespace vexlo {

int run(std::span<const std::string_view> args, std::ostream& out, std::ostream& err);

}  // namespace vexlo
