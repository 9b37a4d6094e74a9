// What a run has said is kept as one line per file, the file's version
// (device, inode, size, times) and then its path in JSON quotes: a line
// names one state of one file, so a file that changes is said again once
// it has stayed unchanged for a while, and lines of files that are gone or
// have become valid are dropped at the next note.

#include "vexlo/query/invalid_files.h"

#include <algorithm>
#include <optional>
#include <set>
#include <sstream>
#include <utility>

#include "vexlo/db/config_files.h"
#include "vexlo/db/log_tree.h"
#include "vexlo/json/json.h"
#include "vexlo/json/streamed_check.h"
#include "vexlo/os/file_system.h"

namespace vexlo {
namespace {

// A file written to a moment ago may be one the daemon is still writing.
constexpr std::int64_t kSettledAfterSeconds = 60;
constexpr std::uint64_t kMaxNotedFileSize = std::uint64_t{4} << 20;

std::string quoted_path(const std::string& path) {
  std::string quoted;
  json::append_quoted(quoted, path);
  return quoted;
}

std::string noted_line(const os::FileVersion& version, const std::string& path) {
  std::ostringstream line;
  line << version.device << ' ' << version.inode << ' ' << version.size << ' ' << version.modified.value_or(-1)
       << ' ' << version.modified_nsec << ' ' << version.changed << ' ' << version.changed_nsec << ' '
       << quoted_path(path);
  return std::move(line).str();
}

// The quoted path that ends a line, after the seven numbers.
std::string_view path_part(std::string_view line) {
  for (int i = 0; i < 7; ++i) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return {};
    line.remove_prefix(space + 1);
  }
  return line;
}

std::optional<std::string> why_invalid(const os::OpenFile& file) {
  std::string text;
  const auto read = os::read_open_file(file, text, {});
  if (!read) return std::nullopt;  // unreadable now: not known to be invalid
  return json::describe_json_fault(text);
}

bool filter_selects(const std::string& path, const ListQuery& query) {
  return path.find(query.filter) != std::string::npos;
}

std::set<std::string, std::less<>> noted_lines(const Database& database) {
  std::set<std::string, std::less<>> lines;
  const auto text = database.read_private_file(kNotedInvalidFileName, kMaxNotedFileSize);
  if (!text) return lines;
  std::istringstream in(*text);
  for (std::string line; std::getline(in, line);) lines.insert(std::move(line));
  return lines;
}

void print_note(std::size_t count, const std::string& log_root, std::ostream& err, bool terminal) {
  err << "Note: " << count << (count == 1 ? " file below " : " files below ") << Shown{log_root, terminal}
      << (count == 1 ? " is not valid JSON and is not listed" : " are not valid JSON and are not listed")
      << "; see --invalid\n";
}

}  // namespace

std::vector<InvalidFile> find_invalid_files(const std::string& log_root, std::span<const std::string> paths) {
  std::vector<InvalidFile> invalid;
  LogFileOpener opener(log_root);
  for (const std::string& path : paths) {
    const auto file = opener.open(path);
    if (!file) continue;
    if (auto why = why_invalid(*file)) invalid.push_back({path, std::move(*why)});
  }
  return invalid;
}

void print_invalid_files(std::span<const InvalidFile> files, bool json, std::ostream& out, bool terminal) {
  for (const InvalidFile& file : files) {
    if (json) {
      const auto escapes = terminal ? json::Escapes::Terminal : json::Escapes::Controls;
      std::string line = "{\"path\":";
      json::append_quoted_without_controls(line, file.path, escapes);
      line += ",\"why\":";
      json::append_quoted_without_controls(line, file.why, escapes);
      out << line << "}\n";
    } else {
      out << Shown{file.path, terminal} << ": " << file.why << '\n';
    }
  }
}

void list_invalid_files(const Database& database, const std::string& log_root, const ListQuery& query,
                        std::ostream& out, std::ostream& err, TerminalOutput terminals) {
  std::vector<FileEntry> entries;
  ScanNotes notes;
  if (!scan_for_listing(database, log_root, entries, notes, err, terminals)) return;
  std::erase_if(notes.unreadable, [&](const std::string& path) { return !filter_selects(path, query); });
  print_invalid_files(find_invalid_files(log_root, notes.unreadable), query.format == ListFormat::Json, out,
                      terminals.out);
}

void note_invalid_files(const Database& database, const std::string& log_root,
                        std::span<const std::string> unreadable, const ListQuery& query, std::int64_t now,
                        std::ostream& err, TerminalOutput terminals) {
  if (unreadable.empty()) return;
  const auto noted = noted_lines(database);
  std::set<std::string, std::less<>> kept;  // the lines to keep: of files still unreadable
  std::set<std::string, std::less<>> unreadable_paths;
  for (const std::string& path : unreadable) unreadable_paths.insert(quoted_path(path));
  for (const std::string& line : noted) {
    if (unreadable_paths.contains(path_part(line))) kept.insert(line);
  }
  std::size_t count = 0;
  bool any_new = false;
  LogFileOpener opener(log_root);
  for (const std::string& path : unreadable) {
    if (!filter_selects(path, query)) continue;
    const auto file = opener.open(path);
    if (!file) continue;
    const os::FileVersion& version = file->status.version();
    if (now - std::max(version.modified.value_or(now), version.changed) <= kSettledAfterSeconds) continue;
    std::string line = noted_line(version, path);
    if (noted.contains(line)) {
      ++count;
    } else if (why_invalid(*file)) {
      ++count;
      any_new = true;
      kept.insert(std::move(line));
    }
  }
  if (!any_new) return;
  print_note(count, log_root, err, terminals.err);
  std::string text;
  for (const std::string& line : kept) text += line + '\n';
  // Kept only where it may be: a read-only run, or one in a directory that
  // others may write, says the note again next time.
  (void)database.write_private_file(kNotedInvalidFileName, text);
}

}  // namespace vexlo
