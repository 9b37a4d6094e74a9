#pragma once
// The usage text as users see it, written out in full.

#include <string>
#include <string_view>

namespace vexlo::e2e {

inline std::string usage_text(std::string_view name) {
  return "Usage: " + std::string(name) + R"( [--config <config_path>] [--log-path <path>] <command> [options]

Global Options:
  --config <path>                  Path to config file
  --log-path <path>                Path to log storage directory

Commands:
  list [filter] [--all]            List all log files
  logs [count] [options]           List recent log files
  show <id> [--pretty]             Show log content by ID (default: text format)
  help                             Show this help message

Options for 'logs' command:
  --since <time>                   Filter logs since time
  --before <time>                  Filter logs before time
  --filter <string>                Filter logs by path string

Time formats: -<number>day (e.g., -10day) or YYYY-MM-DD [HH:MM[:SS]]
)";
}

}  // namespace vexlo::e2e
