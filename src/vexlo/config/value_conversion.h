#pragma once
// Conversion of one TOML value to the type of a configuration field. A
// value of the wrong kind or out of range gives an error at the value's
// position whose message names what was found and the field's type word.

#include <toml++/toml.h>

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "vexlo/config/config.h"
#include "vexlo/config/config_error.h"

namespace vexlo::config {

template <class T>
using Converted = std::expected<T, ConfigError>;

ConfigError invalid_type(const toml::node& found, std::string_view expected);
ConfigError invalid_value(const toml::node& found, std::string_view expected);

Converted<std::string> to_text(const toml::node& node);
Converted<bool> to_boolean(const toml::node& node);
// `word` is "usize" or "u64": the same range, named differently.
Converted<std::uint64_t> to_u64(const toml::node& node, std::string_view word);
Converted<std::uint32_t> to_u32(const toml::node& node);
Converted<std::int32_t> to_i32(const toml::node& node);
// A float, or an integer taken as the nearest float.
Converted<double> to_f64(const toml::node& node);
// The whole list from the file; an empty array gives an empty list.
Converted<std::vector<std::uint32_t>> to_u32_list(const toml::node& node);
// Module name -> option name -> option value, exactly as the file has it.
Converted<KernelModuleConfigs> to_module_map(const toml::node& node);

}  // namespace vexlo::config
