#include "vexlo/config/config_mapping.h"

#include <algorithm>
#include <span>
#include <string_view>

#include "vexlo/config/toml_document.h"

namespace vexlo::config {
namespace {

using Assigned = std::expected<void, ConfigError>;

template <class Record>
struct Field {
  std::string_view key;
  Assigned (*assign)(const toml::node& value, Record& record);
};

template <class Record, class T>
Assigned set(Record& record, T Record::*member, Converted<T> value) {
  if (!value) return std::unexpected(std::move(value.error()));
  record.*member = std::move(*value);
  return {};
}

// A record starts from its defaults and takes the fields the table sets.
// A date-time where a record is expected stands for a table without keys.
template <class Record>
Converted<Record> map_record(const toml::node& node, std::span<const Field<Record>> fields, std::string_view word) {
  Record record{};
  if (is_date_or_time(node)) return record;
  const auto* table = node.as_table();
  if (table == nullptr) return std::unexpected(invalid_type(node, word));
  for (const auto& [key, value] : entries_in_byte_order(*table)) {
    const auto field = std::ranges::find(fields, key, &Field<Record>::key);
    if (field == fields.end()) continue;
    if (auto assigned = field->assign(*value, record); !assigned) {
      return std::unexpected(below_key(std::move(assigned.error()), key));
    }
  }
  return record;
}

using R = LogRetention;
constexpr Field<R> kLogRetentionFields[] = {
    {"max_shutdown_safe_entries",
     [](const toml::node& v, R& r) { return set(r, &R::max_shutdown_safe_entries, to_u64(v, "usize")); }},
    {"max_shutdown_unsafe_entries",
     [](const toml::node& v, R& r) { return set(r, &R::max_shutdown_unsafe_entries, to_u64(v, "usize")); }},
    {"max_event_entries", [](const toml::node& v, R& r) { return set(r, &R::max_event_entries, to_u64(v, "usize")); }},
    {"max_event_file_lines",
     [](const toml::node& v, R& r) { return set(r, &R::max_event_file_lines, to_u64(v, "usize")); }},
    {"event_flush_interval_secs",
     [](const toml::node& v, R& r) { return set(r, &R::event_flush_interval_secs, to_u64(v, "u64")); }},
    {"max_age_days", [](const toml::node& v, R& r) { return set(r, &R::max_age_days, to_u32(v)); }},
};

using M = MonitorConfig;
constexpr Field<M> kMonitorFields[] = {
    {"enable", [](const toml::node& v, M& m) { return set(m, &M::enable, to_boolean(v)); }},
    {"cpu_total_threshold", [](const toml::node& v, M& m) { return set(m, &M::cpu_total_threshold, to_f64(v)); }},
    {"memory_threshold", [](const toml::node& v, M& m) { return set(m, &M::memory_threshold, to_f64(v)); }},
    {"log_directory", [](const toml::node& v, M& m) { return set(m, &M::log_directory, to_text(v)); }},
    {"archive_weeks", [](const toml::node& v, M& m) { return set(m, &M::archive_weeks, to_i32(v)); }},
    {"top_interval_ms", [](const toml::node& v, M& m) { return set(m, &M::top_interval_ms, to_u64(v, "u64")); }},
    {"top_number", [](const toml::node& v, M& m) { return set(m, &M::top_number, to_u64(v, "usize")); }},
    {"monitoring_interval_ms",
     [](const toml::node& v, M& m) { return set(m, &M::monitoring_interval_ms, to_u64(v, "u64")); }},
    {"cache_mb", [](const toml::node& v, M& m) { return set(m, &M::cache_mb, to_u64(v, "u64")); }},
    {"pressure_log_steps", [](const toml::node& v, M& m) { return set(m, &M::pressure_log_steps, to_u32_list(v)); }},
};

using C = Config;
constexpr Field<C> kConfigFields[] = {
    {"log_root_path", [](const toml::node& v, C& c) { return set(c, &C::log_root_path, to_text(v)); }},
    {"reporters", [](const toml::node& v, C& c) { return set(c, &C::reporters, to_text(v)); }},
    {"pstore_backend", [](const toml::node& v, C& c) { return set(c, &C::pstore_backend, to_text(v)); }},
    {"kernel_module_configs",
     [](const toml::node& v, C& c) { return set(c, &C::kernel_module_configs, to_module_map(v)); }},
    {"moniter_config",
     [](const toml::node& v, C& c) {
       return set(c, &C::moniter_config, map_record<M>(v, kMonitorFields, "struct MonitorConfig"));
     }},
    {"log_retention",
     [](const toml::node& v, C& c) {
       return set(c, &C::log_retention, map_record<R>(v, kLogRetentionFields, "struct LogRetention"));
     }},
};

}  // namespace

Converted<Config> map_config(const toml::table& root) {
  return map_record<Config>(root, kConfigFields, "struct Config");
}

}  // namespace vexlo::config
