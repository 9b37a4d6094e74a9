#include "vexlo/db/database_file.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>

#include "vexlo/json/json.h"

namespace vexlo {
namespace {

constexpr std::uint64_t kLargestId = std::numeric_limits<std::uint64_t>::max();

// Negative integers are the only Signed ones, so Unsigned covers 0 and up.
std::optional<std::uint64_t> unsigned_integer(const json::Value& value) {
  if (value.kind() == json::Kind::Unsigned) return value.as_unsigned();
  return std::nullopt;
}

std::uint64_t one_above(std::uint64_t id) { return id == kLargestId ? kLargestId : id + 1; }

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Every integer that follows `"<name>"`, optional space, ":" and optional
// space in the bytes. Numbers with a fraction or an exponent, negative ones
// and ones beyond 64 bits are no IDs and are left out; digits cut off at
// the end of the bytes count as they stand.
template <class Visit>
void for_each_number_after(std::string_view bytes, std::string_view quoted_name, Visit visit) {
  for (auto at = bytes.find(quoted_name); at != std::string_view::npos; at = bytes.find(quoted_name, at + 1)) {
    std::size_t i = at + quoted_name.size();
    while (i < bytes.size() && is_json_space(bytes[i])) ++i;
    if (i == bytes.size() || bytes[i] != ':') continue;
    ++i;
    while (i < bytes.size() && is_json_space(bytes[i])) ++i;
    std::uint64_t number = 0;
    const char* const last = bytes.data() + bytes.size();
    const auto [end, error] = std::from_chars(bytes.data() + i, last, number);
    const bool integer = end == last || (*end != '.' && *end != 'e' && *end != 'E');
    if (error == std::errc() && integer) visit(number);
  }
}

std::optional<FileEntry> entry_from(const json::Value& element) {
  if (element.kind() != json::Kind::Object) return std::nullopt;
  const auto path = element.find("path");
  const auto id = element.find("id");
  if (!path || path->kind() != json::Kind::String || !id) return std::nullopt;
  const auto number = unsigned_integer(*id);
  if (!number) return std::nullopt;
  return FileEntry{std::string(path->as_string()), *number, 0};
}

void append_entry(std::string& out, const FileEntry& entry) {
  out += "    {\n      \"id\": ";
  out += std::to_string(entry.id);
  out += ",\n      \"path\": ";
  json::append_quoted(out, entry.path);
  out += "\n    }";
}

}  // namespace

std::string render_database(const std::vector<FileEntry>& files, std::uint64_t next_file_id,
                            std::int64_t last_sync) {
  std::string out = "{\n  \"files\": ";
  if (files.empty()) {
    out += "[]";
  } else {
    out += "[\n";
    for (std::size_t i = 0; i < files.size(); ++i) {
      append_entry(out, files[i]);
      out += i + 1 < files.size() ? ",\n" : "\n";
    }
    out += "  ]";
  }
  out += ",\n  \"last_sync\": ";
  out += std::to_string(last_sync);
  out += ",\n  \"next_file_id\": ";
  out += std::to_string(next_file_id);
  out += "\n}";
  return out;
}

LoadedDatabase load_database(std::string_view text) {
  LoadedDatabase loaded;
  loaded.damaged = true;
  auto document = json::parse(text);
  if (!document) return loaded;
  const json::Value root = document->root();
  if (root.kind() != json::Kind::Object) return loaded;
  DatabaseContent& content = loaded.content;
  if (const auto next = root.find("next_file_id")) {
    if (const auto number = unsigned_integer(*next)) content.next_file_id = *number;
  }
  const auto files = root.find("files");
  if (!files || files->kind() != json::Kind::Array) return loaded;
  loaded.damaged = false;
  for (std::size_t i = 0; i < files->size(); ++i) {
    if (auto entry = entry_from(files->element(i))) content.files.push_back(std::move(*entry));
  }
  return loaded;
}

std::uint64_t counter_above(const std::vector<FileEntry>& files, std::uint64_t next_file_id) {
  std::uint64_t counter = std::max<std::uint64_t>(next_file_id, 1);
  for (const auto& entry : files) counter = std::max(counter, one_above(entry.id));
  return counter;
}

std::uint64_t salvage_counter(std::string_view bytes) {
  std::uint64_t counter = 1;
  for_each_number_after(bytes, "\"id\"", [&](std::uint64_t id) { counter = std::max(counter, one_above(id)); });
  for_each_number_after(bytes, "\"next_file_id\"", [&](std::uint64_t next) { counter = std::max(counter, next); });
  return counter;
}

}  // namespace vexlo
