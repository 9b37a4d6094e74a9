// The listing scans the log root afresh, so that every file on disk now is
// shown with its current time; the database only lends each file its ID.

#include "vexlo/query/list.h"

#include <algorithm>
#include <ranges>
#include <sstream>
#include <utility>
#include <vector>

#include "vexlo/db/log_scan.h"
#include "vexlo/json/json.h"
#include "vexlo/os/file_system.h"
#include "vexlo/query/fields.h"
#include "vexlo/query/log_contents.h"
#include "vexlo/query/time_text.h"

namespace vexlo {
namespace {

// Every scanned file is looked up, also those the selection will drop, so
// that all warnings come before the first listing line.
void assign_ids(const Database& database, std::vector<FileEntry>& entries, std::ostream& err,
                bool err_is_terminal) {
  // Asked in time order, the order in which the database keeps its
  // entries, so that on a tree that has not changed since the
  // synchronisation each ID is found where the last one was; the warnings
  // still come in scan order.
  std::vector<std::pair<std::int64_t, std::size_t>> order;  // time, place
  order.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) order.emplace_back(entries[i].timestamp, i);
  std::ranges::sort(order);
  std::vector<char> missing(entries.size(), 0);
  Database::PathsInTurn paths(database);
  for (const std::size_t i : std::views::values(order)) {
    const FileEntry* known = paths.find_run_path(entries[i].path);
    entries[i].id = known != nullptr ? known->id : 0;
    missing[i] = known == nullptr;
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (missing[i]) err << "Warning: File " << Shown{entries[i].path, err_is_terminal} << " not found in database\n";
  }
}

// How many of `selected` lines to print. -1 means no limit; any other
// negative count prints nothing, like 0, since no line count lies below it.
std::size_t line_count(std::int64_t limit, std::size_t selected) {
  if (limit == -1) return selected;
  if (limit <= 0) return 0;
  return std::min(static_cast<std::uint64_t>(limit), static_cast<std::uint64_t>(selected));
}

// One printer per format. Paths are printed as the scan made them, valid
// UTF-8, with control characters escaped for a terminal; JSON escapes
// every control character itself, and for a terminal also the characters
// that reorder or hide text.
// The text forms without their newline; the time in the form --since and
// --before take, so it can be pasted back.
void write_text_line(std::ostream& line, const FileEntry& entry, ListFormat format, bool terminal) {
  line << "[ID:" << entry.id << "] ";
  if (format == ListFormat::Time) line << time_expression_text(entry.timestamp) << ' ';
  line << Shown{entry.path, terminal};
}

// The members of a JSON line, without its closing brace.
void append_json_members(std::string& line, const FileEntry& entry, json::Escapes escapes) {
  line += "{\"id\":" + std::to_string(entry.id) + ",\"path\":";
  json::append_quoted_without_controls(line, entry.path, escapes);
  line += ",\"time\":" + std::to_string(entry.timestamp) + ",\"time_utc\":";
  if (const auto utc = rfc3339_text(entry.timestamp)) {
    line += '"' + *utc + '"';
  } else {
    line += "null";
  }
}

json::Escapes json_escapes(bool terminal) { return terminal ? json::Escapes::Terminal : json::Escapes::Controls; }

// The members with the fields of --fields, when it asks for any.
void append_json_members(std::string& line, const FileEntry& entry, std::span<const std::string> keys,
                         const FieldValues& values, json::Escapes escapes) {
  append_json_members(line, entry, escapes);
  if (!keys.empty()) append_fields_member(line, keys, values, escapes);
}

// The line of --content, built by the thread that read the log: the
// members, then the document as the last one.
void append_line_with_log(std::string& line, const FileEntry& entry, const ReadLog& log, const LogContent& content,
                          const ContentRequest& request) {
  append_json_members(line, entry, request.fields, content.fields, request.escapes);
  line += ",\"log\":";
  log.append_compact(line, request.escapes);
  line += "}\n";
}

// Prints the lines of one listing, the fields of --fields after the path:
// a table of them on a terminal.
class LinePrinter {
 public:
  LinePrinter(const ListQuery& query, std::ostream& out, bool terminal)
      : query_(query), out_(out), terminal_(terminal), table_(terminal) {}

  void print(const FileEntry& entry, const FieldValues& values = {}) {
    if (query_.format == ListFormat::Json) {
      std::string line;
      append_json_members(line, entry, query_.fields, values, json_escapes(terminal_));
      line += "}\n";
      out_ << line;
    } else if (query_.fields.empty()) {
      write_text_line(out_, entry, query_.format, terminal_);
      out_ << '\n';
    } else {
      std::vector<std::string> cells;
      for (std::size_t i = 0; i < query_.fields.size(); ++i) {
        cells.push_back(field_cell(i < values.size() ? values[i] : std::nullopt, terminal_));
      }
      std::ostringstream lead;
      write_text_line(lead, entry, query_.format, terminal_);
      table_.add(std::move(lead).str(), std::move(cells), out_);
    }
  }

  // Prints the rows a terminal's table kept.
  void finish() { table_.finish(out_); }

 private:
  const ListQuery& query_;
  std::ostream& out_;
  bool terminal_;
  FieldTable table_;
};

bool shows_content(const ListQuery& query) { return query.content && query.format == ListFormat::Json; }

// A line of a listing kept to be printed later: a finished text, or the
// entry and its fields, which the printer lays out with the other rows.
struct HeldLine {
  const FileEntry* entry = nullptr;
  FieldValues values = {};
  std::string text = {};
};

// The lines of entries whose content is read: for the conditions, the
// fields, the document, or all of them. With `held`, the lines are kept
// there, in the order found, instead of printed.
PrintedLines print_read_entries(std::span<const FileEntry> entries, const ListQuery& query, const std::string& log_root,
                                std::size_t max_lines, std::ostream& out, std::ostream& err, TerminalOutput terminals,
                                const SystemPaths* system_paths, std::vector<HeldLine>* held = nullptr) {
  ContentRequest request{query.where, shows_content(query) ? append_line_with_log : nullptr, log_root,
                         json_escapes(terminals.out), system_paths};
  request.fields = query.fields;
  LinePrinter printer(query, out, terminals.out);
  PrintedLines printed;
  const auto emit = [&](const FileEntry& entry, HeldLine line) {
    if (held != nullptr) {
      held->push_back(std::move(line));
    } else if (line.entry == nullptr) {
      out << line.text;
    } else {
      printer.print(entry, line.values);
    }
    printed.highest_id = std::max(printed.highest_id, entry.id);
    return ++printed.lines < max_lines;
  };
  const auto take = [&](std::size_t i, LogContent& content) {
    const FileEntry& entry = entries[i];
    if (!content.problem.empty() && query.where.empty()) {
      // Only --content and --fields read without --where: the line says
      // null, or "-" for each field.
      err << "Warning: content of " << Shown{entry.path, terminals.err}
          << " not shown: " << Shown{content.problem, terminals.err} << '\n';
      if (request.line) {
        std::string line;
        append_json_members(line, entry, query.fields, {}, request.escapes);
        return emit(entry, HeldLine{.text = line + ",\"log\":null}\n"});
      }
      return emit(entry, HeldLine{.entry = &entry});
    }
    if (!content.matches) return true;
    if (request.line) return emit(entry, HeldLine{.text = std::move(content.line)});
    return emit(entry, HeldLine{.entry = &entry, .values = std::move(content.fields)});
  };
  read_log_contents(entries, request, std::min(os::available_processors(), kMaxReadThreads), take);
  printer.finish();
  return printed;
}

// The newest `count` of `selected` (newest first), printed oldest first.
// Where conditions decide which lines those are, the lines are made newest
// first and held, at most `count` of them, until all are found.
PrintedLines print_oldest_first(std::vector<FileEntry>& selected, std::size_t count, const ListQuery& query,
                                const std::string& log_root, std::ostream& out, std::ostream& err,
                                TerminalOutput terminals, const SystemPaths* system_paths) {
  if (query.where.empty() || count == selected.size()) {
    const std::span<FileEntry> newest(selected.data(), count);
    std::ranges::reverse(newest);
    return print_entries(newest, query, log_root, count, out, err, terminals, system_paths);
  }
  if (count == 0) return {};
  std::vector<HeldLine> held;
  const PrintedLines printed =
      print_read_entries(selected, query, log_root, count, out, err, terminals, system_paths, &held);
  LinePrinter printer(query, out, terminals.out);
  for (auto line = held.rbegin(); line != held.rend(); ++line) {
    if (line->entry == nullptr) {
      out << line->text;
    } else {
      printer.print(*line->entry, line->values);
    }
  }
  printer.finish();
  return printed;
}

}  // namespace

bool scan_for_listing(const Database& database, const std::string& log_root, std::vector<FileEntry>& entries,
                      ScanNotes& notes, std::ostream& err, TerminalOutput terminals) {
  if (auto scanned = database.scan(log_root, entries, &notes); !scanned) {
    err << "Error traversing " << Shown{log_root, terminals.err} << ": " << Shown{scanned.error().text, terminals.err}
        << '\n';
    return false;
  }
  return true;
}

bool is_selected(const FileEntry& entry, const ListQuery& query) {
  if (entry.path.find(query.filter) == std::string::npos) return false;
  if (query.since && entry.timestamp < *query.since) return false;
  if (query.before && entry.timestamp >= *query.before) return false;
  if (query.above_id && entry.id <= *query.above_id) return false;
  return true;
}

PrintedLines print_entries(std::span<const FileEntry> entries, const ListQuery& query, const std::string& log_root,
                          std::size_t max_lines, std::ostream& out, std::ostream& err, TerminalOutput terminals,
                          const SystemPaths* system_paths) {
  if (max_lines == 0) return {};
  if (!query.where.empty() || shows_content(query) || !query.fields.empty()) {
    return print_read_entries(entries, query, log_root, max_lines, out, err, terminals, system_paths);
  }
  PrintedLines printed;
  printed.lines = std::min(max_lines, entries.size());
  LinePrinter printer(query, out, terminals.out);
  for (const FileEntry& entry : entries.first(printed.lines)) {
    printer.print(entry);
    printed.highest_id = std::max(printed.highest_id, entry.id);
  }
  printer.finish();
  return printed;
}

void report_repeated_text(const std::string& directory, std::ostream& err, TerminalOutput terminals) {
  err << "Warning: Two file names in " << Shown{directory, terminals.err}
      << " read as the same path; one of the files is passed over\n";
}

std::optional<Selection> select_log_files(const Database& database, const std::string& log_root,
                                          const ListQuery& query, std::ostream& err, TerminalOutput terminals,
                                          ListingScan* listing) {
  std::vector<FileEntry> entries;
  ScanNotes notes;
  // Through the database, so that files the synchronisation has just read
  // and that have not changed since are not read again.
  if (!scan_for_listing(database, log_root, entries, notes, err, terminals)) return std::nullopt;
  for (const std::string& directory : notes.repeated_text_in) report_repeated_text(directory, err, terminals);
  assign_ids(database, entries, err, terminals.err);
  if (listing != nullptr) {
    for (const FileEntry& entry : listing->keep_paths ? entries : std::span<const FileEntry>{}) {
      // Above a cursor a log without an ID is not printed: it is left for a
      // round of --follow that finds it numbered.
      if (entry.id != 0 || !query.above_id) listing->paths.push_back(entry.path);
    }
    listing->repeated_text_in = std::move(notes.repeated_text_in);
    listing->unreadable = std::move(notes.unreadable);
  }

  // Selected in place: on a large tree a second list would be the peak.
  std::erase_if(entries, [&query](const FileEntry& entry) { return !is_selected(entry, query); });
  Selection selected{.entries = std::move(entries), .system_paths = std::move(notes.system_paths)};
  // Files of equal time keep the order in which the scan found them.
  std::ranges::stable_sort(selected.entries, std::ranges::greater{}, &FileEntry::timestamp);
  return selected;
}

std::vector<FileEntry> keep_matching_content(std::vector<FileEntry> entries, const ListQuery& query,
                                             const std::string& log_root, const SystemPaths* system_paths) {
  if (query.where.empty()) return entries;
  ContentRequest request{query.where, nullptr, log_root};
  request.system_paths = system_paths;
  std::vector<FileEntry> kept;
  read_log_contents(entries, request, std::min(os::available_processors(), kMaxReadThreads),
                    [&](std::size_t i, LogContent& content) {
                      if (content.matches) kept.push_back(std::move(entries[i]));
                      return true;
                    });
  return kept;
}

PrintedLines list_log_files(const Database& database, const std::string& log_root, const ListQuery& query,
                            std::ostream& out, std::ostream& err, TerminalOutput terminals, ListingScan* listing) {
  auto selected = select_log_files(database, log_root, query, err, terminals, listing);
  if (!selected) return {};
  const std::size_t count = line_count(query.limit, selected->entries.size());
  if (query.oldest_first) {
    return print_oldest_first(selected->entries, count, query, log_root, out, err, terminals, &selected->system_paths);
  }
  return print_entries(selected->entries, query, log_root, count, out, err, terminals, &selected->system_paths);
}

}  // namespace vexlo
