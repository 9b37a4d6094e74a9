#pragma once
// The configuration from its text, without touching the file system.

#include <expected>
#include <string>
#include <string_view>

#include "vexlo/config/config.h"

namespace vexlo::config {

// The mapped configuration, or the rendered error text (each line ended by
// "\n") of the first syntax error or misfitting value.
std::expected<Config, std::string> parse_config_text(std::string_view text);

}  // namespace vexlo::config
