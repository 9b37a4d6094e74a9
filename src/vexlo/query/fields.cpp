#include "vexlo/query/fields.h"

#include <algorithm>
#include <utility>

#include "vexlo/common/terminal_text.h"
#include "vexlo/query/where.h"

namespace vexlo {

FieldValues read_fields(json::Value root, std::span<const std::string> keys) {
  FieldValues values(keys.size());
  read_key_values(root, keys, [&](std::size_t key, std::string_view text) {
    auto& value = values[key];
    if (value) {
      *value += ',';
      *value += text;
    } else {
      value.emplace(text);
    }
  });
  return values;
}

void append_fields_member(std::string& line, std::span<const std::string> keys, const FieldValues& values,
                          json::Escapes escapes) {
  line += ",\"fields\":{";
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (i > 0) line += ',';
    json::append_quoted_without_controls(line, keys[i], escapes);
    line += ':';
    if (i < values.size() && values[i]) {
      json::append_quoted_without_controls(line, *values[i], escapes);
    } else {
      line += "null";
    }
  }
  line += '}';
}

std::string field_cell(const std::optional<std::string>& value, bool terminal) {
  if (!value) return "-";
  if (!terminal) return *value;
  std::string cell;
  append_visible(cell, *value);
  return cell;
}

std::size_t column_width(std::string_view text) {
  // Every byte but the continuation bytes of UTF-8 starts a character.
  return static_cast<std::size_t>(std::ranges::count_if(
      text, [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

void FieldTable::add(std::string lead, std::vector<std::string> cells, std::ostream& out) {
  if (aligned_) {
    cells.insert(cells.begin(), std::move(lead));
    rows_.push_back(std::move(cells));
    return;
  }
  out << lead;
  for (const std::string& cell : cells) out << '\t' << cell;
  out << '\n';
}

void FieldTable::finish(std::ostream& out) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows_) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], column_width(row[i]));
  }
  for (const auto& row : rows_) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - column_width(row[i]) + 2, ' ');
    }
    out << line << '\n';
  }
  rows_.clear();
}

}  // namespace vexlo
