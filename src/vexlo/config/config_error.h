#pragma once
// An error met while reading the configuration text, and its rendering: the
// position in the file with the source line and a caret run under the
// offending text, or, for an error without a position, the key path.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexlo::config {

// A region of the source text. Lines and columns are 1-based, columns count
// characters (code points); the end is exclusive.
struct SourceSpan {
  std::uint32_t begin_line = 0;
  std::uint32_t begin_column = 0;
  std::uint32_t end_line = 0;
  std::uint32_t end_column = 0;
};

struct ConfigError {
  std::string message;
  std::optional<SourceSpan> span;
  // Keys from the root down to the offending value.
  std::vector<std::string> key_path;
};

// The same error seen from the table that holds `key`: the key goes in
// front of the path.
ConfigError below_key(ConfigError error, std::string_view key);

// The error text, every line ended by "\n". `text` is the document the
// span refers to.
std::string render_config_error(std::string_view text, const ConfigError& error);

}  // namespace vexlo::config
