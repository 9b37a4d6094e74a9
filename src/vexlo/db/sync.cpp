// Bringing the database in line with the log files on disk.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <functional>
#include <utility>
#include <vector>

#include "vexlo/db/database.h"
#include "vexlo/db/log_scan.h"
#include "vexlo/os/file_system.h"
#include "vexlo/os/memory.h"

namespace vexlo {
namespace {

// The counter stops at its largest value, which is never handed out: the
// counter could not move past it, and wrapping around to 0 ("no ID") and on
// would give IDs a second time. Files that arrive then get no ID.
std::uint64_t take_next_id(std::uint64_t& next_file_id) {
  if (next_file_id == std::numeric_limits<std::uint64_t>::max()) return 0;
  return next_file_id++;
}

// Which of the loaded entries may pass their ID on. An ID belongs to the
// first entry that holds it; a later holder is another file that must not
// share it, and gets an ID of its own like a new file. 0 is no ID. The
// entries are held sorted by ID and, among equal IDs, by their place in
// the list: eight bytes an entry.
class IdOwners {
 public:
  explicit IdOwners(const std::vector<FileEntry>& files) {
    holders_.reserve(files.size());
    for (const auto& entry : files) {
      if (entry.id != 0) holders_.push_back(&entry);
    }
    std::ranges::sort(holders_, [](const FileEntry* a, const FileEntry* b) {
      return a->id != b->id ? a->id < b->id : std::less<const FileEntry*>{}(a, b);
    });
  }

  bool owns(const FileEntry& entry) const {
    if (entry.id == 0) return false;
    const auto id_of = [](const FileEntry* holder) { return holder->id; };
    const auto first = std::ranges::lower_bound(holders_, entry.id, {}, id_of);
    return first != holders_.end() && *first == &entry;
  }

 private:
  std::vector<const FileEntry*> holders_;
};

std::size_t read_threads() { return std::min(os::available_processors(), kMaxReadThreads); }

}  // namespace

Status Database::sync(const std::string& log_root) {
  std::vector<FileEntry> scanned;
  ScanNotes notes;
  SystemScanSource system;
  scan_completed_ = false;
  if (auto result = scan_log_files(log_root, scanned, system, log_times_, read_threads(), &notes, held_path_texts(true));
      !result) {
    // Nothing will be saved: let the next run in.
    lock_.release();
    return result;
  }
  scan_completed_ = true;
  scan_order_.clear();
  scan_order_.reserve(scanned.size());
  for (const FileEntry& entry : scanned) scan_order_.push_back(entry.path);
  const std::uint64_t first_new_id = next_file_id_;
  // Files of equal time stay in scan order. The IDs, not given yet, hold
  // the scan order meanwhile: a stable sort would take a buffer of half the
  // list, at the peak of a large run.
  for (std::size_t i = 0; i < scanned.size(); ++i) scanned[i].id = i;
  std::ranges::sort(scanned, {}, [](const FileEntry& entry) { return std::pair(entry.timestamp, entry.id); });
  // The database keeps its own spelling of the log root.
  if (!spelling_.same()) {
    for (auto& entry : scanned) entry.path = spelling_.stored(entry.path);
    for (auto& path : notes.unreadable) path = spelling_.stored(path);
  }
  // The scanned list goes as the new one is made, the old entries once it
  // is: no more than two lists are held.
  files_ = entries_after_scan(std::move(scanned), notes);
  // The scan's list was reserved for the files of the scan before and
  // grew by doubling: the database keeps no more room than it needs for
  // the rest of the run.
  if (files_.capacity() - files_.size() > files_.size() / 8) files_.shrink_to_fit();
  passed_over_ = std::move(notes.passed_over);
  system_paths_ = std::move(notes.system_paths);
  path_index_.clear();
  // The loaded entries, the index of their paths and the scan's earlier
  // rooms are gone: the listing that follows takes its room from the
  // system anew rather than adding to a heap that keeps them.
  os::release_freed_memory();
  if (read_only_) return {};
  auto saved = save();
  if (!saved) forget_ids_from(first_new_id);
  return saved;
}

std::vector<FileEntry> Database::entries_after_scan(std::vector<FileEntry> entries, ScanNotes& notes) {
  const IdOwners owners(files_);
  PathsInTurn paths(*this);  // each path is asked about once
  const auto known_id = [&](std::string_view path) -> std::uint64_t {
    const FileEntry* known = paths.find(path);
    return known != nullptr && owners.owns(*known) ? known->id : 0;
  };
  // Known paths keep their IDs; new files are numbered in time order, so
  // IDs count arrivals. A read-only database numbers nothing: an ID that is
  // not saved would name another file in the next run. Numbered in place:
  // on a large tree a second list would be the peak.
  std::size_t kept = 0;
  for (auto& entry : entries) {
    entry.id = known_id(entry.path);
    if (entry.id == 0 && !read_only_) entry.id = take_next_id(next_file_id_);
    // A file left without an ID (the counter is used up) gets no entry.
    if (entry.id == 0) continue;
    if (&entries[kept] != &entry) entries[kept] = std::move(entry);
    ++kept;
  }
  entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(kept), entries.end());
  // A file that is there but cannot be read or parsed right now (being
  // rewritten, say) keeps its ID, so that it comes back under it; only a
  // path that no longer names a file loses its entry.
  for (auto& path : notes.unreadable) {
    if (const std::uint64_t id = known_id(path); id != 0) entries.push_back(FileEntry{std::move(path), id, 0});
  }
  // So do the files below a directory that could not be entered this time.
  for (const auto& directory : notes.passed_over) {
    for (const FileEntry& entry : files_) {
      if (owners.owns(entry) && path_below(directory.path, entry.path)) {
        entries.push_back(FileEntry{entry.path, entry.id, 0});
      }
    }
  }
  return entries;
}

void Database::forget_ids_from(std::uint64_t first_new_id) {
  const std::uint64_t end = next_file_id_;
  std::erase_if(files_, [&](const FileEntry& entry) { return entry.id >= first_new_id && entry.id < end; });
  next_file_id_ = first_new_id;
  path_index_.clear();
}

Status Database::scan(const std::string& log_root, std::vector<FileEntry>& entries, ScanNotes* notes) const {
  SystemScanSource system;
  return scan_log_files(log_root, entries, system, log_times_, read_threads(), notes, held_path_texts(false));
}

// The loaded entries' paths by the position of the cache record of each:
// the last synchronisation kept its entries in the order of their times
// and, among equal times, in the order of its scan, which is the cache's.
// A position whose record the entries lack holds none.
std::vector<SharedText> Database::entry_paths_by_cache_record() const {
  std::vector<SharedText> by_record(log_times_.size());
  const std::vector<std::uint32_t> in_entry_order = log_times_.timed_positions_by_time();
  for (std::size_t i = 0; i < std::min(in_entry_order.size(), files_.size()); ++i) {
    by_record[in_entry_order[i]] = files_[i].path;
  }
  return by_record;
}

KnownPathTexts Database::held_path_texts(bool search_entries) const {
  // The entries spell the log root as the database does; a scan spelling
  // it otherwise finds none of their paths.
  search_entries = search_entries && spelling_.same();
  std::vector<SharedText> by_record = search_entries ? entry_paths_by_cache_record() : std::vector<SharedText>{};
  return [this, search_entries, next = std::size_t{0}, by_record = std::move(by_record)](
             std::string_view path, std::optional<std::size_t> record) mutable -> std::optional<SharedText> {
    // A scan of the tree the last one scanned meets its files in the same
    // order, with no search; one file gone is stepped over.
    for (std::size_t at = next; at < std::min(next + 2, scan_order_.size()); ++at) {
      if (scan_order_[at] == path) {
        next = at + 1;
        return scan_order_[at];
      }
    }
    // A scan after the synchronisation's builds no index for the few files
    // it lacks (those without a time, names that are not UTF-8): they are
    // held twice.
    if (!search_entries) return std::nullopt;
    // The synchronisation's scan takes the text of its cache record's
    // entry, each once, without a search. A file the cache does not know,
    // or knows as no log, is no entry's; only where the cache and the
    // entries disagree are the entries searched.
    if (!by_record.empty()) {
      if (!record || *record >= by_record.size() || by_record[*record].empty()) return std::nullopt;
      if (by_record[*record] == path) return std::move(by_record[*record]);
    }
    const FileEntry* entry = find_by_path(path);
    return entry != nullptr ? std::optional(entry->path) : std::nullopt;
  };
}

}  // namespace vexlo
