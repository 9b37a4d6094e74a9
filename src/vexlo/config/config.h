#pragma once
// The daemon's configuration, mapped completely onto its schema so that a
// file that does not fit anywhere is rejected as a whole.

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace vexlo {

struct LogRetention {
  std::uint64_t max_shutdown_safe_entries = 3;
  std::uint64_t max_shutdown_unsafe_entries = 5;
  std::uint64_t max_event_entries = 10;
  std::uint64_t max_event_file_lines = 1000;
  std::uint64_t event_flush_interval_secs = 5;
  std::uint32_t max_age_days = 30;

  bool operator==(const LogRetention&) const = default;
};

struct MonitorConfig {
  bool enable = false;
  double cpu_total_threshold = 80.0;
  double memory_threshold = 80.0;
  std::string log_directory = "/var/log/orvane/monitor";
  std::int32_t archive_weeks = 4;
  std::uint64_t top_interval_ms = 1000;
  std::uint64_t top_number = 10;
  std::uint64_t monitoring_interval_ms = 5000;
  std::uint64_t cache_mb = 100;
  std::vector<std::uint32_t> pressure_log_steps = {1, 3, 5, 10, 30, 120};

  // A NaN threshold compares unequal, as floats do.
  bool operator==(const MonitorConfig&) const = default;
};

// Module name -> option name -> option value.
using KernelModuleConfigs = std::map<std::string, std::map<std::string, std::string>>;

struct Config {
  std::string log_root_path = "/var/log/orvane";
  std::string reporters = "/usr/lib/orvane/orvane-rivura/reporters";
  std::string pstore_backend = "efi-pstore";
  KernelModuleConfigs kernel_module_configs = {
      {"orvane", {{"orvane_log_dir", "/var/log/orvane_logs"}}},
      {"efi_pstore", {{"dump_oops", "0"}}},
  };
  MonitorConfig moniter_config;
  LogRetention log_retention;

  bool operator==(const Config&) const = default;
};

Config default_config();

// Never fails: an unreadable file gives the defaults silently; a malformed
// one writes "parse config error: " and the error text to `out` and gives
// the defaults.
Config load_config(const std::string& path, std::ostream& out);

}  // namespace vexlo
