#pragma once
// How error messages name a value met in the file: `string "x"`,
// "integer `5`", "floating point `5.0`", "boolean `true`", "sequence", "map".

#include <toml++/toml.h>

#include <string>
#include <string_view>

namespace vexlo::config {

std::string found_part(const toml::node& node);

// A float as messages show it: a finite value always with a decimal point
// (5 as 5.0), otherwise inf, -inf or NaN.
std::string float_text(double value);

}  // namespace vexlo::config
