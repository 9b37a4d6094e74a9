#include "vexlo/config/value_conversion.h"

#include <utility>

#include "vexlo/config/found_part.h"
#include "vexlo/config/toml_document.h"

namespace vexlo::config {
namespace {

ConfigError error_at(const toml::node& found, std::string message) {
  return ConfigError{std::move(message), span_of(found), {}};
}

// An integer within the range of T; every integer the parser yields is a
// signed 64-bit value, so the unsigned 64-bit range ends at its maximum.
template <class T>
Converted<T> to_integer(const toml::node& node, std::string_view word) {
  const auto* integer = node.as_integer();
  if (integer == nullptr) return std::unexpected(invalid_type(node, word));
  const std::int64_t value = integer->get();
  if (!std::in_range<T>(value)) return std::unexpected(invalid_value(node, word));
  return static_cast<T>(value);
}

// Options of one module: a table of strings. A date-time stands for a table
// without keys, as it does for every table-valued field.
Converted<std::map<std::string, std::string>> to_module_options(const toml::node& node) {
  if (is_date_or_time(node)) return std::map<std::string, std::string>{};
  const auto* table = node.as_table();
  if (table == nullptr) return std::unexpected(invalid_type(node, "a map"));
  std::map<std::string, std::string> options;
  for (const auto& [name, value] : entries_in_byte_order(*table)) {
    auto text = to_text(*value);
    if (!text) return std::unexpected(below_key(std::move(text.error()), name));
    options.emplace(name, std::move(*text));
  }
  return options;
}

}  // namespace

ConfigError invalid_type(const toml::node& found, std::string_view expected) {
  return error_at(found, "invalid type: " + found_part(found) + ", expected " + std::string(expected));
}

ConfigError invalid_value(const toml::node& found, std::string_view expected) {
  return error_at(found, "invalid value: " + found_part(found) + ", expected " + std::string(expected));
}

Converted<std::string> to_text(const toml::node& node) {
  const auto* text = node.as_string();
  if (text == nullptr) return std::unexpected(invalid_type(node, "a string"));
  return text->get();
}

Converted<bool> to_boolean(const toml::node& node) {
  const auto* boolean = node.as_boolean();
  if (boolean == nullptr) return std::unexpected(invalid_type(node, "a boolean"));
  return boolean->get();
}

Converted<std::uint64_t> to_u64(const toml::node& node, std::string_view word) {
  return to_integer<std::uint64_t>(node, word);
}

Converted<std::uint32_t> to_u32(const toml::node& node) { return to_integer<std::uint32_t>(node, "u32"); }

Converted<std::int32_t> to_i32(const toml::node& node) { return to_integer<std::int32_t>(node, "i32"); }

Converted<double> to_f64(const toml::node& node) {
  if (const auto* floating = node.as_floating_point()) return floating->get();
  if (const auto* integer = node.as_integer()) return static_cast<double>(integer->get());
  return std::unexpected(invalid_type(node, "f64"));
}

Converted<std::vector<std::uint32_t>> to_u32_list(const toml::node& node) {
  const auto* array = node.as_array();
  if (array == nullptr) return std::unexpected(invalid_type(node, "a sequence"));
  std::vector<std::uint32_t> steps;
  steps.reserve(array->size());
  for (const toml::node& element : *array) {
    auto step = to_u32(element);
    if (!step) return std::unexpected(std::move(step.error()));
    steps.push_back(*step);
  }
  return steps;
}

Converted<KernelModuleConfigs> to_module_map(const toml::node& node) {
  if (is_date_or_time(node)) return KernelModuleConfigs{};
  const auto* table = node.as_table();
  if (table == nullptr) return std::unexpected(invalid_type(node, "a map"));
  KernelModuleConfigs modules;
  for (const auto& [name, value] : entries_in_byte_order(*table)) {
    auto options = to_module_options(*value);
    if (!options) return std::unexpected(below_key(std::move(options.error()), name));
    modules.emplace(name, std::move(*options));
  }
  return modules;
}

}  // namespace vexlo::config
