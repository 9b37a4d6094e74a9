// A file counts as seen from the first scan that finds it (parsed) to the
// first that does not: a log that is removed and written again under the
// same name is new again.

#include "vexlo/query/follow.h"

#include <algorithm>
#include <limits>

#include "vexlo/common/utf8.h"
#include "vexlo/db/log_scan.h"
#include "vexlo/query/log_contents.h"

namespace vexlo {

NewLogPrinter::NewLogPrinter(ListQuery query, const ListingScan& listing)
    : query_(std::move(query)), seen_(listing.paths.begin(), listing.paths.end()) {
  for (const std::string& directory : listing.repeated_text_in) ++repeated_text_in_[directory];
  // The line limit of `logs N` holds for the listing only.
  query_.limit = -1;
}

bool NewLogPrinter::may_find_new(std::span<const std::string> changed, const std::string& log_root) const {
  std::unordered_set<std::string_view> looked_at;
  for (const std::string& path : changed) {
    // The scan keeps paths as text, with bytes that are not UTF-8 replaced;
    // a seen file of such a name must not count as new at every change.
    if (seen_.contains(to_utf8_lossy(path)) || !looked_at.insert(path).second) continue;
    const auto slash = path.rfind('/');
    if (!has_json_extension(slash == std::string::npos ? path : std::string_view(path).substr(slash + 1))) continue;
    if (read_log_content(FileEntry{path, 0, 0}, {.where = {}, .line = nullptr, .log_root = log_root}).problem.empty()) return true;
  }
  return false;
}

bool NewLogPrinter::finds_unseen(const Database& database, const std::string& log_root) const {
  std::vector<FileEntry> entries;
  if (!database.scan(log_root, entries)) return false;
  return std::ranges::any_of(entries, [&](const FileEntry& entry) { return !seen_.contains(entry.path); });
}

PrintedLines NewLogPrinter::print_new(const Database& database, const std::string& log_root, bool ids_kept, std::ostream& out,
                              std::ostream& err, TerminalOutput terminals) {
  std::vector<FileEntry> entries;
  ScanNotes notes;
  if (!scan_for_listing(database, log_root, entries, notes, err, terminals)) return {};
  // A file passed over is said when it first is, not at every round.
  std::unordered_map<std::string, std::size_t> repeated_now;
  for (const std::string& directory : notes.repeated_text_in) {
    const auto said = repeated_text_in_.find(directory);
    if (++repeated_now[directory] > (said == repeated_text_in_.end() ? 0 : said->second)) {
      report_repeated_text(directory, err, terminals);
    }
  }
  repeated_text_in_ = std::move(repeated_now);
  // A file seen before that cannot be read right now (being rewritten) is
  // not new when it can be read again.
  std::unordered_set<SharedText> seen_now;
  for (std::string& path : notes.unreadable) {
    if (seen_.contains(path)) seen_now.insert(std::move(path));
  }
  std::vector<FileEntry> fresh;
  for (FileEntry& entry : entries) {
    const bool was_seen = seen_.contains(entry.path);
    if (!was_seen) {
      if (const FileEntry* known = database.find_by_run_path(entry.path)) {
        entry.id = known->id;
      } else if (ids_kept) {
        continue;  // numbered by the next round
      } else {
        if (query_.above_id) continue;
        entry.id = 0;
        err << "Warning: File " << Shown{entry.path, terminals.err} << " not found in database\n";
      }
    }
    seen_now.insert(entry.path);
    if (!was_seen && is_selected(entry, query_)) fresh.push_back(std::move(entry));
  }
  seen_ = std::move(seen_now);
  // In the order they were written, as they come.
  std::ranges::stable_sort(fresh, std::ranges::less{}, &FileEntry::timestamp);
  const PrintedLines printed =
      print_entries(fresh, query_, log_root, std::numeric_limits<std::size_t>::max(), out, err, terminals,
                    &notes.system_paths);
  out.flush();
  return printed;
}

}  // namespace vexlo
