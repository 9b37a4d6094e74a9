#include "vexlo/query/show.h"

#include <utility>

#include "vexlo/os/file_system.h"

namespace vexlo {
namespace {

// Renders the text form into a block writer; `path` is the key path of the
// value being rendered and grows and shrinks as members are entered and left.
class TextPrinter {
 public:
  explicit TextPrinter(json::BlockWriter& writer) : writer_(writer), out_(writer.buffer()) {}

  void value(json::Value v, std::string& path) {
    switch (v.kind()) {
      case json::Kind::Null:
        out_ += "null\n\n";
        break;
      case json::Kind::Boolean:
        out_ += v.as_bool() ? "true\n\n" : "false\n\n";
        break;
      case json::Kind::Unsigned:
      case json::Kind::Signed:
      case json::Kind::Float:
        json::append_number(out_, v);
        out_ += "\n\n";
        break;
      case json::Kind::String:
        out_ += v.as_string();
        out_ += "\n\n";
        break;
      case json::Kind::Array:
        for (std::size_t i = 0; i < v.size(); ++i) value(v.element(i), path);
        break;
      case json::Kind::Object:
        members(v, path);
        break;
    }
    writer_.flush_if_full();
  }

 private:
  void members(json::Value object, std::string& path) {
    const std::size_t path_size = path.size();
    for (std::size_t i = 0; i < object.size(); ++i) {
      // An empty key path (the top level, or a member named "" there) gives
      // the name alone; below it names are joined with "." as they are.
      if (path_size != 0) path += '.';
      path += object.member_name(i);
      out_ += path;
      out_ += '\n';
      value(object.member_value(i), path);
      path.resize(path_size);
    }
  }

  json::BlockWriter& writer_;
  std::string& out_;
};

}  // namespace

void print_json_text(json::Value value, std::string_view path, std::ostream& out) {
  json::BlockWriter writer(out);
  std::string key_path(path);
  TextPrinter(writer).value(value, key_path);
}

void show_file(const std::string& path, ShowFormat format, std::ostream& out, std::ostream& err) {
  auto text = os::read_text_file(path);
  if (!text) {
    err << "Error opening file " << path << ": " << text.error().text << '\n';
    return;
  }
  auto document = json::parse(json::PaddedText(*text));
  // The document holds its own copy of the strings; the text can go before
  // the output is rendered.
  std::string().swap(*text);
  if (!document) {
    err << "Error parsing JSON in file " << path << '\n';
    return;
  }
  switch (format) {
    case ShowFormat::Text:
      print_json_text(document->root(), "", out);
      break;
    case ShowFormat::Pretty:
      json::write_pretty(out, document->root());
      out << '\n';
      break;
    case ShowFormat::Json:
      json::write_compact(out, document->root());
      out << '\n';
      break;
  }
}

void show_log_file(const Database& database, std::uint64_t id, ShowFormat format, std::ostream& out,
                   std::ostream& err) {
  const FileEntry* entry = database.find_by_id(id);
  if (entry == nullptr) {
    err << "File with ID " << id << " not found\n";
    return;
  }
  show_file(entry->path, format, out, err);
}

}  // namespace vexlo
