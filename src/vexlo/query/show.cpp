#include "vexlo/query/show.h"

#include <fcntl.h>

#include <cerrno>
#include <utility>

#include "vexlo/common/colour.h"
#include "vexlo/db/log_scan.h"
#include "vexlo/os/file_system.h"
#include "vexlo/query/memory_budget.h"
#include "vexlo/query/text_form.h"

namespace vexlo {
namespace {

// Renders the text form into a block writer; `path` is the key path of the
// value being rendered and grows and shrinks as members are entered and left.
class TextPrinter {
 public:
  TextPrinter(json::BlockWriter& writer, bool escape_controls, bool colour)
      : writer_(writer), out_(writer.buffer()), escape_controls_(escape_controls), colour_(colour) {}

  void value(json::Value v, std::string& path) {
    if (colour_ && is_scalar(v)) out_ += scalar_colour(v.kind());
    switch (v.kind()) {
      case json::Kind::String:
        if (escape_controls_) {
          append_visible(out_, v.as_string(), Controls::KeepTabAndLineFeed);
        } else {
          out_ += v.as_string();
        }
        end_colour();
        out_ += "\n\n";
        break;
      case json::Kind::Array:
        for (std::size_t i = 0; i < v.size(); ++i) value(v.element(i), path);
        break;
      case json::Kind::Object:
        members(v, path);
        break;
      default:
        append_scalar_text(out_, v);
        end_colour();
        out_ += "\n\n";
        break;
    }
    writer_.flush_if_full();
  }

 private:
  void members(json::Value object, std::string& path) {
    const std::size_t path_size = path.size();
    for (std::size_t i = 0; i < object.size(); ++i) {
      if (escape_controls_) {
        std::string visible;
        append_visible(visible, object.member_name(i));
        append_member_path(path, visible);
      } else {
        append_member_path(path, object.member_name(i));
      }
      if (colour_) out_ += colour::kKey;
      out_ += path;
      end_colour();
      out_ += '\n';
      value(object.member_value(i), path);
      path.resize(path_size);
    }
  }

  static std::string_view scalar_colour(json::Kind kind) {
    if (kind == json::Kind::String) return colour::kString;
    return kind == json::Kind::Null ? colour::kNull : colour::kPlain;
  }

  void end_colour() {
    if (colour_) out_ += colour::kReset;
  }

  json::BlockWriter& writer_;
  std::string& out_;
  bool escape_controls_;
  bool colour_;
};

// The escaping of the JSON forms, the one place it is chosen: on a terminal
// both escape whatever a terminal would act on or hide; into a pipe the
// pretty form keeps the bytes it always had, and the one-line form escapes
// every control character, as scripts have always got it.
json::Escapes json_escapes(ShowFormat format, bool terminal) {
  if (terminal) return json::Escapes::Terminal;
  return format == ShowFormat::Json ? json::Escapes::Controls : json::Escapes::Json;
}

}  // namespace

void append_scalar_text(std::string& out, json::Value scalar) {
  switch (scalar.kind()) {
    case json::Kind::Null:
      out += "null";
      break;
    case json::Kind::Boolean:
      out += scalar.as_bool() ? "true" : "false";
      break;
    case json::Kind::String:
      out += scalar.as_string();
      break;
    case json::Kind::Unsigned:
    case json::Kind::Signed:
    case json::Kind::Float:
      json::append_number(out, scalar);
      break;
    case json::Kind::Array:
    case json::Kind::Object:
      break;
  }
}

void print_json_text(json::Value value, std::string_view path, std::ostream& out, bool escape_controls,
                     bool colour) {
  json::BlockWriter writer(out);
  std::string key_path;
  if (escape_controls) {
    append_visible(key_path, path);
  } else {
    key_path = path;
  }
  TextPrinter(writer, escape_controls, colour).value(value, key_path);
}

namespace {

// The JSON forms, through the colouring when asked for.
template <class Write>
void write_json(std::ostream& out, bool colour, Write write) {
  if (!colour) {
    write(out);
  } else {
    JsonColourBuffer buffer(out);
    std::ostream coloured(&buffer);
    write(coloured);
    buffer.finish();
  }
  out << '\n';
}

bool cannot_open(const Shown& path, std::string_view why, std::ostream& err) {
  err << "Error opening file " << path << ": " << why << '\n';
  return false;
}

bool cannot_parse(const Shown& path, const json::ParseError& error, std::ostream& err) {
  // A file too large for the memory left could not be taken in, as one
  // too large to read (see common/out_of_memory.h).
  if (error.out_of_memory) return cannot_open(path, os::error_text(ENOMEM), err);
  err << "Error parsing JSON in file " << path << '\n';
  return false;
}

// The JSON forms write the document out once, in order: it needs no index.
bool show_json(std::string& text, const Shown& path, ShowFormat format, std::ostream& out, std::ostream& err,
               TerminalOutput terminals, bool colour) {
  // The parser lets its index of the text go before it returns.
  const std::string refusal = refusal_for(text, {.parser_kept = false, .indexed = false}, kMemorySlack);
  if (!refusal.empty()) return cannot_open(path, refusal, err);
  auto document = json::parse_for_writing(json::PaddedText(text));
  std::string().swap(text);
  if (!document) return cannot_parse(path, document.error(), err);
  write_json(out, colour, [&](std::ostream& to) {
    const json::Escapes escapes = json_escapes(format, terminals.out);
    if (format == ShowFormat::Pretty) {
      json::write_pretty(to, document->text(), escapes);
    } else {
      json::write_compact(to, document->text(), escapes);
    }
  });
  return true;
}

bool show_open_file(const Result<os::OpenFile>& file, const std::string& path, ShowFormat format, std::ostream& out,
                    std::ostream& err, TerminalOutput terminals, bool colour) {
  const Shown shown_path{path, terminals.err};
  const os::ReadRules rules{.check = json::may_begin_value, .stop_after_nul = true};
  auto text = file ? os::read_open_text_file(*file, rules) : Result<std::string>(std::unexpected(file.error()));
  if (!text) return cannot_open(shown_path, text.error().text, err);
  if (format != ShowFormat::Text) return show_json(*text, shown_path, format, out, err, terminals, colour);
  // The parser lets its index of the text go before the document's is built.
  const std::string refusal = refusal_for(*text, {.parser_kept = false}, kMemorySlack);
  if (!refusal.empty()) return cannot_open(shown_path, refusal, err);
  auto document = json::parse(json::PaddedText(*text));
  // The document holds its own copy of the strings; the text can go before
  // the output is rendered.
  std::string().swap(*text);
  if (!document) return cannot_parse(shown_path, document.error(), err);
  print_json_text(document->root(), "", out, terminals.out, colour);
  return true;
}

}  // namespace

bool show_file(const std::string& path, ShowFormat format, std::ostream& out, std::ostream& err,
               TerminalOutput terminals, bool colour) {
  return show_open_file(os::open_regular_file(AT_FDCWD, path, os::Links::Follow), path, format, out, err, terminals,
                 colour);
}

bool show_log_file(const Database& database, const std::string& log_root, std::uint64_t id, ShowFormat format,
                   std::ostream& out, std::ostream& err, TerminalOutput terminals, bool colour) {
  const FileEntry* entry = database.find_by_id(id);
  const std::string path = entry != nullptr ? database.path_for_run(*entry) : std::string();
  // An entry outside the log root (edited in by hand, or left by a failed
  // synchronisation, also one that leaves it through "..") names no log
  // of this tree.
  if (!may_be_found_below(log_root, path)) {
    err << "File with ID " << id << " not found\n";
    return false;
  }
  return show_open_file(open_log_file(log_root, database.system_path_for_run(*entry)), path, format, out, err,
                        terminals, colour);
}

void show_log_at(const std::string& log_root, const std::string& path, const std::string& system_path,
                 ShowFormat format, std::ostream& out, std::ostream& err, TerminalOutput terminals, bool colour) {
  show_open_file(open_log_file(log_root, system_path), path, format, out, err, terminals, colour);
}

}  // namespace vexlo
