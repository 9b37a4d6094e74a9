#pragma once
// The TOML parser behind the configuration, held behind a small surface: a
// parse that returns its failure as a value, and the few questions the
// mapping asks of the tree.

#include <toml++/toml.h>

#include <expected>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "vexlo/config/config_error.h"

namespace vexlo::config {

// Parses a whole document. A syntax error comes back as a value with its
// position and the parser's description. A document nested too deeply for
// the parser to walk safely is refused before parsing.
std::expected<toml::table, ConfigError> parse_toml(std::string_view text);

// The parser skips one byte-order mark and counts positions after it.
std::string_view without_byte_order_mark(std::string_view text);

// Where a node was written; absent for a node the parser made up.
std::optional<SourceSpan> span_of(const toml::node& node);

// A table's entries in ascending byte order of their keys.
std::vector<std::pair<std::string_view, const toml::node*>> entries_in_byte_order(const toml::table& table);

bool is_date_or_time(const toml::node& node);

}  // namespace vexlo::config
