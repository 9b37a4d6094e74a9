#include "vexlo/db/database_file.h"

#include <optional>

#include "vexlo/json/json.h"

namespace vexlo {
namespace {

std::optional<std::uint64_t> unsigned_integer(const json::Value& value) {
  if (value.kind() == json::Kind::Unsigned) return value.as_unsigned();
  if (value.kind() == json::Kind::Signed && value.as_signed() >= 0)
    return static_cast<std::uint64_t>(value.as_signed());
  return std::nullopt;
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

DatabaseContent parse_database(std::string_view text) {
  DatabaseContent content;
  auto document = json::parse(text);
  if (!document) return content;
  const json::Value root = document->root();
  if (root.kind() != json::Kind::Object) return content;
  if (const auto next = root.find("next_file_id")) {
    if (const auto number = unsigned_integer(*next)) content.next_file_id = *number;
  }
  const auto files = root.find("files");
  if (!files || files->kind() != json::Kind::Array) return content;
  for (std::size_t i = 0; i < files->size(); ++i) {
    if (auto entry = entry_from(files->element(i))) content.files.push_back(std::move(*entry));
  }
  return content;
}

}  // namespace vexlo
