#include "vexlo/config/config_mapping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "vexlo/config/config_text.h"

namespace vexlo::config {
namespace {

// The last line of the error text: the message.
std::string message_of(std::string_view text) {
  const auto parsed = parse_config_text(text);
  if (parsed) return "(no error)";
  std::string_view error = parsed.error();
  error.remove_suffix(1);
  return std::string(error.substr(error.rfind('\n') + 1));
}

TEST(MapConfig, ValuesThatDoNotFit) {
  const struct {
    const char* document;
    const char* message;
  } cases[] = {
      // One case per kind of value found.
      {"[moniter_config]\nenable = \"yes\"", "invalid type: string \"yes\", expected a boolean"},
      {"[kernel_module_configs.efi_pstore]\ndump_oops = 0", "invalid type: integer `0`, expected a string"},
      {"[moniter_config]\ntop_number = 10.0", "invalid type: floating point `10.0`, expected usize"},
      {"log_retention.event_flush_interval_secs = true", "invalid type: boolean `true`, expected u64"},
      {"log_root_path = []", "invalid type: sequence, expected a string"},
      {"log_retention = { max_age_days = {} }", "invalid type: map, expected u32"},
      {"moniter_config.log_directory = 1979-05-27T07:32:00Z", "invalid type: map, expected a string"},
      {"moniter_config.cpu_total_threshold = 07:32:00", "invalid type: map, expected f64"},
      {"moniter_config.pressure_log_steps = 1979-05-27", "invalid type: map, expected a sequence"},
      // The type word of every kind of field.
      {"reporters = 1", "invalid type: integer `1`, expected a string"},
      {"pstore_backend = false", "invalid type: boolean `false`, expected a string"},
      {"kernel_module_configs = []", "invalid type: sequence, expected a map"},
      {"kernel_module_configs.orvane = \"x\"", "invalid type: string \"x\", expected a map"},
      {"moniter_config = 1", "invalid type: integer `1`, expected struct MonitorConfig"},
      {"[[log_retention]]", "invalid type: sequence, expected struct LogRetention"},
      {"log_retention.max_shutdown_safe_entries = 1.5", "invalid type: floating point `1.5`, expected usize"},
      {"log_retention.max_shutdown_unsafe_entries = \"5\"", "invalid type: string \"5\", expected usize"},
      {"log_retention.max_event_entries = []", "invalid type: sequence, expected usize"},
      {"log_retention.max_event_file_lines = inf", "invalid type: floating point `inf`, expected usize"},
      {"moniter_config.top_interval_ms = 1.0", "invalid type: floating point `1.0`, expected u64"},
      {"moniter_config.monitoring_interval_ms = nan", "invalid type: floating point `NaN`, expected u64"},
      {"moniter_config.cache_mb = {}", "invalid type: map, expected u64"},
      {"moniter_config.archive_weeks = 4.0", "invalid type: floating point `4.0`, expected i32"},
      {"moniter_config.memory_threshold = \"80\"", "invalid type: string \"80\", expected f64"},
      {"moniter_config.enable = 1", "invalid type: integer `1`, expected a boolean"},
      {"moniter_config.pressure_log_steps = 5", "invalid type: integer `5`, expected a sequence"},
      {"moniter_config.pressure_log_steps = [1, \"3\"]", "invalid type: string \"3\", expected u32"},
      // The ranges.
      {"log_retention.max_age_days = -1", "invalid value: integer `-1`, expected u32"},
      {"log_retention.max_age_days = 4294967296", "invalid value: integer `4294967296`, expected u32"},
      {"moniter_config.pressure_log_steps = [1, -2]", "invalid value: integer `-2`, expected u32"},
      {"moniter_config.archive_weeks = 2147483648", "invalid value: integer `2147483648`, expected i32"},
      {"moniter_config.archive_weeks = -2147483649", "invalid value: integer `-2147483649`, expected i32"},
      {"moniter_config.top_number = -1", "invalid value: integer `-1`, expected usize"},
      {"moniter_config.cache_mb = -9223372036854775808", "invalid value: integer `-9223372036854775808`, expected u64"},
      // Floats beyond the 64-bit range, wherever they are written.
      {"moniter_config.cpu_total_threshold = 1e400", "floating-point number overflowed"},
      {"log_root_path = -1e400", "floating-point number overflowed"},
      {"x = [1.5e999]", "floating-point number overflowed"},
      // The first wrong value in byte order of the keys is the one reported.
      {"reporters = 1\nlog_root_path = 2", "invalid type: integer `2`, expected a string"},
      {"reporters = 1\nlog_retention.max_age_days = -1", "invalid value: integer `-1`, expected u32"},
      {"[kernel_module_configs]\nz = { o = 1 }\nZ = { o = 2 }", "invalid type: integer `2`, expected a string"},
      {"[kernel_module_configs]\n\"\xC3\xA9\" = { o = 1 }\nz = { o = 2 }",
       "invalid type: integer `2`, expected a string"},
      {"[moniter_config]\ntop_number = -1\ncache_mb = -2", "invalid value: integer `-2`, expected u64"},
  };
  for (const auto& c : cases) EXPECT_EQ(message_of(c.document), c.message) << c.document;
}

TEST(MapConfig, ValuesThatFit) {
  const struct {
    const char* document;
    std::function<bool(const Config&)> holds;
  } cases[] = {
      {"", [](const Config& c) { return c == Config{}; }},
      {"log_root_path = \"/srv/logs\"",
       [](const Config& c) {
         Config expected;
         expected.log_root_path = "/srv/logs";
         return c == expected;
       }},
      {"log_root_path = ''", [](const Config& c) { return c.log_root_path.empty(); }},
      // Keys outside the schema are skipped whatever they hold.
      {"[monitor_config]\nenable = true", [](const Config& c) { return c == Config{}; }},
      {"Log_Root_Path = 1\n[moniter_config]\nEnable = \"x\"\nextra = [{ a = [1, 1e3] }]\n[unknown.deep.table]\nk = 1",
       [](const Config& c) { return c == Config{}; }},
      {"moniter_config.cpu_total_threshold = 90",
       [](const Config& c) { return c.moniter_config.cpu_total_threshold == 90.0; }},
      {"moniter_config.cpu_total_threshold = inf",
       [](const Config& c) { return std::isinf(c.moniter_config.cpu_total_threshold); }},
      {"moniter_config.memory_threshold = nan",
       [](const Config& c) { return std::isnan(c.moniter_config.memory_threshold); }},
      {"moniter_config.archive_weeks = -3", [](const Config& c) { return c.moniter_config.archive_weeks == -3; }},
      {"moniter_config.archive_weeks = -2147483648",
       [](const Config& c) { return c.moniter_config.archive_weeks == -2147483648; }},
      {"log_retention.max_age_days = 4294967295",
       [](const Config& c) { return c.log_retention.max_age_days == 4294967295u; }},
      {"moniter_config.cache_mb = 0x7FFFFFFFFFFFFFFF",
       [](const Config& c) { return c.moniter_config.cache_mb == 9223372036854775807u; }},
      {"[kernel_module_configs.efi_pstore]\ndump_oops = \"1\"",
       [](const Config& c) {
         return c.kernel_module_configs == KernelModuleConfigs{{"efi_pstore", {{"dump_oops", "1"}}}};
       }},
      {"kernel_module_configs = {}", [](const Config& c) { return c.kernel_module_configs.empty(); }},
      {"[kernel_module_configs.orvane]",
       [](const Config& c) {
         return c.kernel_module_configs == KernelModuleConfigs{{"orvane", {}}};
       }},
      {"[moniter_config]\nenable = true",
       [](const Config& c) {
         MonitorConfig expected;
         expected.enable = true;
         return c.moniter_config == expected && c.log_retention == LogRetention{};
       }},
      {"moniter_config.pressure_log_steps = []",
       [](const Config& c) { return c.moniter_config.pressure_log_steps.empty(); }},
      {"moniter_config.pressure_log_steps = [0, 4294967295, 7]",
       [](const Config& c) {
         return c.moniter_config.pressure_log_steps == std::vector<std::uint32_t>{0, 4294967295u, 7};
       }},
      // Every TOML way of writing a table.
      {"moniter_config = { enable = true, top_number = 3 }",
       [](const Config& c) { return c.moniter_config.enable && c.moniter_config.top_number == 3; }},
      {"log_retention.max_event_entries = 11\nlog_retention.max_age_days = 2",
       [](const Config& c) {
         return c.log_retention.max_event_entries == 11 && c.log_retention.max_age_days == 2 &&
                c.log_retention.max_shutdown_safe_entries == 3;
       }},
      {"[log_retention]\nmax_event_file_lines = 1000\n[log_retention.extra]\nx = 1",
       [](const Config& c) { return c.log_retention == LogRetention{}; }},
      // A date-time where a table is expected stands for a table without keys.
      {"moniter_config = 1979-05-27", [](const Config& c) { return c == Config{}; }},
      {"kernel_module_configs = 1979-05-27", [](const Config& c) { return c.kernel_module_configs.empty(); }},
  };
  for (const auto& c : cases) {
    const auto parsed = parse_config_text(c.document);
    ASSERT_TRUE(parsed) << c.document << "\n" << parsed.error();
    EXPECT_TRUE(c.holds(*parsed)) << c.document;
  }
}

TEST(MapConfig, ExampleFileWithDefaultsWrittenOut) {
  const auto parsed = parse_config_text(R"(log_root_path = "/var/log/orvane"
pstore_backend = "efi-pstore"

[kernel_module_configs.orvane]
orvane_log_dir = "/var/log/orvane_logs"

[kernel_module_configs.efi_pstore]
dump_oops = "0"

[moniter_config]
enable = false
cpu_total_threshold = 80.0
pressure_log_steps = [1, 3, 5, 10, 30, 120]

[log_retention]
max_event_file_lines = 1000
max_age_days = 30
)");
  ASSERT_TRUE(parsed) << parsed.error();
  EXPECT_EQ(*parsed, Config{});
}

TEST(MapConfig, ErrorPointsAtTheOffendingArrayElement) {
  EXPECT_EQ(parse_config_text("[moniter_config]\npressure_log_steps = [1, -2]\n").error(),
            "TOML parse error at line 2, column 26\n"
            "  |\n"
            "2 | pressure_log_steps = [1, -2]\n"
            "  |                          ^^\n"
            "invalid value: integer `-2`, expected u32\n");
}

TEST(MapConfig, ErrorPointsAtAWholeTable) {
  EXPECT_EQ(parse_config_text("[log_retention]\nmax_age_days = 1\n[moniter_config]\ncache_mb = { a = 1 }\n").error(),
            "TOML parse error at line 4, column 12\n"
            "  |\n"
            "4 | cache_mb = { a = 1 }\n"
            "  |            ^^^^^^^^^\n"
            "invalid type: map, expected u64\n");
}

}  // namespace
}  // namespace vexlo::config
