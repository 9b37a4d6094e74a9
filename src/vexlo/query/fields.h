#pragma once
// The columns of --fields: after each listed path, the value of each key
// as --where reads it. Kept apart from the listing, so that any view of
// the logs can show the same columns.

#include <cstddef>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vexlo/json/json.h"

namespace vexlo {

// One value per key: the texts of every scalar under the key path, in the
// document's order, joined by commas; nothing when there is none.
using FieldValues = std::vector<std::optional<std::string>>;

FieldValues read_fields(json::Value root, std::span<const std::string> keys);

// Appends `,"fields":{...}` to a JSON line: each key with its value as a
// string, or null when missing (all null when `values` is empty).
void append_fields_member(std::string& line, std::span<const std::string> keys, const FieldValues& values,
                          json::Escapes escapes);

// A value as a column shows it: "-" when missing, control characters
// escaped on a terminal.
std::string field_cell(const std::optional<std::string>& value, bool terminal);

// Rows of a leading text (the listing line without its newline) and cells.
// Into a pipe each row is printed at once, its parts separated by tabs; on
// a terminal the rows are kept until `finish` and printed aligned, columns
// two spaces apart.
class FieldTable {
 public:
  explicit FieldTable(bool aligned) : aligned_(aligned) {}
  void add(std::string lead, std::vector<std::string> cells, std::ostream& out);
  void finish(std::ostream& out);

 private:
  bool aligned_;
  std::vector<std::vector<std::string>> rows_;
};

// The columns a text takes on a terminal: one per character, so for text
// already escaped for it (characters of double width count as one).
std::size_t column_width(std::string_view text);

}  // namespace vexlo
