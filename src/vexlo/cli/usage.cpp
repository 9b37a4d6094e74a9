#include "vexlo/cli/usage.h"

namespace vexlo {
namespace {

// Everything after the program name. Entries are padded so that every
// description starts in the same column.
constexpr std::string_view kUsageAfterName =
    " [--config <config_path>] [--log-path <path>] <command> [options]\n"
    "\n"
    "Global Options:\n"
    "  --config <path>                  Path to config file\n"
    "  --log-path <path>                Path to log storage directory\n"
    "\n"
    "Commands:\n"
    "  list [filter] [--all]            List all log files\n"
    "  logs [count] [options]           List recent log files\n"
    "  show <id> [--pretty]             Show log content by ID (default: text format)\n"
    "  help                             Show this help message\n"
    "\n"
    "Options for 'logs' command:\n"
    "  --since <time>                   Filter logs since time\n"
    "  --before <time>                  Filter logs before time\n"
    "  --filter <string>                Filter logs by path string\n"
    "\n"
    "Time formats: -<number>day (e.g., -10day) or YYYY-MM-DD [HH:MM[:SS]]\n";

}  // namespace

void print_usage(std::string_view program_name, std::ostream& err) {
  err << "Usage: " << program_name << kUsageAfterName;
}

std::string_view usage_program_name(std::span<const std::string_view> args) {
  if (args.empty() || args.front().empty()) return "vexlo";
  return args.front();
}

}  // namespace vexlo
