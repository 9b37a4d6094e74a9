#include "vexlo/config/toml_document.h"

#include <algorithm>
#include <string>

#include "vexlo/common/terminal_text.h"
#include "vexlo/config/nesting_guard.h"

namespace vexlo::config {
namespace {

// The parser calls a float beyond the 64-bit range a value it cannot
// interpret; such a number has already passed its grammar, so the cause is
// the overflow, and the message says so.
std::string description_of(std::string_view description) {
  constexpr std::string_view kFloatPrefix = "Error while parsing floating-point: '";
  const bool float_out_of_range =
      description.starts_with(kFloatPrefix) && (description.ends_with("' could not be interpreted as a value") ||
                                                description.ends_with("' is not representable in 64 bits"));
  if (float_out_of_range) return "floating-point number overflowed";
  return braced_escapes(description);
}

SourceSpan to_span(const toml::source_region& region) {
  return SourceSpan{region.begin.line, region.begin.column, region.end.line, region.end.column};
}

}  // namespace

std::expected<toml::table, ConfigError> parse_toml(std::string_view text) {
  if (auto too_deep = find_excessive_nesting(without_byte_order_mark(text))) {
    return std::unexpected(std::move(*too_deep));
  }
  try {
    return toml::parse(text);
  } catch (const toml::parse_error& error) {
    ConfigError failure{description_of(error.description()), std::nullopt, {}};
    if (error.source().begin.line > 0) failure.span = to_span(error.source());
    return std::unexpected(std::move(failure));
  }
}

std::string_view without_byte_order_mark(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  return text;
}

std::optional<SourceSpan> span_of(const toml::node& node) {
  const toml::source_region& region = node.source();
  if (region.begin.line == 0) return std::nullopt;
  return to_span(region);
}

std::vector<std::pair<std::string_view, const toml::node*>> entries_in_byte_order(const toml::table& table) {
  std::vector<std::pair<std::string_view, const toml::node*>> entries;
  entries.reserve(table.size());
  for (const auto& [key, value] : table) entries.emplace_back(key.str(), &value);
  // string_view compares as unsigned bytes.
  std::ranges::sort(entries, {}, &std::pair<std::string_view, const toml::node*>::first);
  return entries;
}

bool is_date_or_time(const toml::node& node) { return node.is_date() || node.is_time() || node.is_date_time(); }

}  // namespace vexlo::config
