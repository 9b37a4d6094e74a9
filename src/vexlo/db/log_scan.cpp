// The scan of the log root: the walk (see log_tree.h) finds the JSON files
// with their status; the files the cache cannot answer are read as the
// walk goes on, by several threads at once, each result in the place of
// its file, so that the entries come out in discovery order whatever
// thread read which file. Reading never ends the scan (a file that cannot
// be read is skipped), so reading while the walk goes on rather than after
// it changes nothing but the speed.

#include "vexlo/db/log_scan.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <functional>
#include <new>
#include <unordered_set>
#include <utility>

#include "vexlo/common/utf8.h"
#include "vexlo/db/log_time_cache.h"
#include "vexlo/db/parallel_reading.h"
#include "vexlo/json/json.h"
#include "vexlo/os/file_system.h"

namespace vexlo {
namespace {

// The regular "json" files the walk found, in discovery order, each path
// as an entry with no ID and its time when the cache knew it, and those it
// did not know as jobs to read. The version is kept only of the files that
// must be read, since that of every other is the one its cache record
// holds.
struct FoundFiles {
  FoundFiles(ScanSource& source, std::size_t threads) : to_read(source, threads) {}
  std::vector<FileEntry> entries;
  ParallelReading to_read;
};

// What the scan learns of each found file, at the file's place: whether it
// has a time (then in its entry's timestamp), and whether it could not be
// read at all (kNoDescriptor: not even opened, for lack of descriptors).
struct Outcomes {
  explicit Outcomes(std::vector<char> timed_by_cache) : timed(std::move(timed_by_cache)), failed(timed.size(), 0) {}
  std::vector<char> timed;
  std::vector<char> failed;

  std::optional<std::int64_t> time(const FileEntry& entry, std::size_t i) const {
    return timed[i] ? std::optional(entry.timestamp) : std::nullopt;
  }
};

// Puts what the jobs learned in the places of their files.
void take_results(FoundFiles& found, Outcomes& outcomes) {
  for (ReadJob& job : found.to_read.jobs()) {
    FileEntry& entry = found.entries[job.at];
    entry.timestamp = job.time;
    outcomes.timed[job.at] = job.timed;
    outcomes.failed[job.at] = job.failed;
  }
}

// Turns the found paths into text in place, bytes that are not UTF-8
// replaced, and says of each whether it is passed over because its text is
// another file's. A text belongs to the file whose path it is byte for byte
// (the file that a later look-up of the text opens), else to the first
// whose path gives it. Only a replaced path can give the text of another,
// so a tree of UTF-8 names costs nothing more. `not_utf8` holds the places
// of the paths that are not UTF-8, in order: they were checked as the walk
// found them, where a pass over the list now would read each path again.
// With `system_paths`, the bytes of each replaced path that keeps its text
// are added to it.
std::vector<char> to_path_texts(std::vector<FileEntry>& found, const std::vector<std::size_t>& not_utf8,
                                SystemPaths* system_paths) {
  std::vector<char> replaced(found.size(), 0);
  std::vector<std::string> bytes;  // of the replaced paths, in order
  std::unordered_set<std::string> replaced_texts;
  for (const std::size_t i : not_utf8) {
    bytes.push_back(found[i].path.str());
    found[i].path = to_utf8_lossy(bytes.back());
    replaced[i] = 1;
    replaced_texts.insert(found[i].path.str());
  }
  std::vector<char> passed_over(found.size(), 0);
  if (replaced_texts.empty()) return passed_over;
  std::unordered_set<std::string_view> given;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (!replaced[i] && replaced_texts.contains(found[i].path.str())) given.insert(found[i].path);
  }
  auto next_bytes = bytes.begin();
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (!replaced[i]) continue;
    passed_over[i] = !given.insert(found[i].path).second;
    if (!passed_over[i] && system_paths != nullptr) system_paths->emplace(found[i].path.str(), std::move(*next_bytes));
    ++next_bytes;
  }
  return passed_over;
}

std::string directory_of(std::string_view path) {
  const auto slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  return std::string(path.substr(0, slash == 0 ? 1 : slash));
}

// The records of a completed scan laid out for the cache, in its order. A
// file that could not be read is left out, so that the next run tries it
// again.
void teach(LogTimeCache& learned, const LogTimeCache& asked, FoundFiles& found, const Outcomes& outcomes,
           os::Timestamp started) {
  learned.replace(LogTimeCache::write([&](LogTimeCache::Writer& records) {
                    LogTimeCache::Lookup lookup(asked);
                    auto read = found.to_read.jobs().begin();
                    for (std::size_t i = 0; i < found.entries.size(); ++i) {
                      // Every path is asked, as the scan asked, so that each
                      // meets the record the scan's question met.
                      auto version = lookup.identity(found.entries[i].path);
                      if (read != found.to_read.jobs().end() && read->at == i) {
                        version = read->version.unpacked();
                        ++read;
                      }
                      if (outcomes.failed[i] || !version) continue;
                      records.add(found.entries[i].path, *version, outcomes.time(found.entries[i], i));
                    }
                  }),
                  started);
}

// Keeps in `found` the entries of the files with a time, in order, and
// notes the others.
void keep_timed(std::vector<FileEntry>& found, const Outcomes& outcomes, const std::vector<char>& repeated,
                ScanNotes* notes) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (repeated[i]) {
      if (notes != nullptr) notes->repeated_text_in.push_back(directory_of(found[i].path));
    } else if (outcomes.timed[i]) {
      if (kept != i) found[kept] = std::move(found[i]);
      ++kept;
    } else if (notes != nullptr) {
      // A log that cannot be opened now is not absent without a word.
      if (outcomes.failed[i] == kNoDescriptor) {
        notes->passed_over.push_back({found[i].path.str(), os::error_text(EMFILE), true});
      }
      notes->unreadable.push_back(found[i].path.str());
    }
  }
  found.erase(found.begin() + static_cast<std::ptrdiff_t>(kept), found.end());
}

Status scan_into(const std::string& directory, std::vector<FileEntry>& entries, ScanSource& source,
                 const LogTimeCache& cache, LogTimeCache* learned, std::size_t threads, ScanNotes* notes,
                 const KnownPathTexts& known) {
  const os::Timestamp started = os::now();
  // A tree mostly holds what it held at the scan before: room for that
  // many spares the copies a growing list makes, which on a large tree are
  // the peak of the run.
  FoundFiles found(source, threads);
  found.entries.reserve(cache.size());
  std::vector<char> timed;  // of each file, whether it has a time
  std::vector<std::size_t> not_utf8;  // the places of paths that are not UTF-8
  std::optional<LogTimeCache::Lookup> lookup(std::in_place, cache);
  // A path that is already held is not held again.
  const auto text_of = [&known, &lookup](const std::string& path) {
    auto held = known ? known(path, lookup->path_met()) : std::nullopt;
    return held ? std::move(*held) : SharedText(path);
  };
  // Each file is asked about as the walk finds it, so that only the
  // versions of those that must be read are kept. The identity is the one
  // seen before reading: a file that changes while it is read no longer
  // matches it at the next scan and is read again.
  const auto on_found = [&](std::string path, const os::FileStatus& status) {
    const auto cached = lookup->find(path, status.version());
    if (!is_valid_utf8(path)) not_utf8.push_back(timed.size());
    timed.push_back(cached && *cached);
    if (cached) {
      found.entries.push_back(FileEntry{text_of(path), 0, *cached ? **cached : 0});
      return;
    }
    SharedText text = text_of(path);
    found.entries.push_back(FileEntry{text, 0, 0});
    found.to_read.add(found.entries.size() - 1, std::move(text), status.version());
  };
  if (auto walked = walk_log_tree(directory, source, on_found, notes != nullptr ? &notes->passed_over : nullptr);
      !walked) {
    return walked;
  }
  found.to_read.finish();
  Outcomes outcomes(std::move(timed));
  take_results(found, outcomes);

  // A scan that found what the cache holds leaves it as it is. The
  // lookup's index, if it made one, goes before teaching makes another.
  const bool found_the_cache = found.to_read.jobs().empty() && lookup->found_all_in_order(found.entries.size());
  lookup.reset();
  if (learned != nullptr && !found_the_cache) teach(*learned, cache, found, outcomes, started);
  found.to_read.drop();
  const std::vector<char> repeated = to_path_texts(found.entries, not_utf8, notes != nullptr ? &notes->system_paths : nullptr);
  keep_timed(found.entries, outcomes, repeated, notes);
  if (entries.empty()) {
    entries = std::move(found.entries);
  } else {
    entries.insert(entries.end(), std::make_move_iterator(found.entries.begin()),
                   std::make_move_iterator(found.entries.end()));
  }
  return {};
}

}  // namespace

std::string system_path_of(const SystemPaths& paths, const std::string& text) {
  const auto found = paths.find(text);
  return found != paths.end() ? found->second : text;
}

Status scan_log_files(const std::string& directory, std::vector<FileEntry>& entries, ScanSource& source,
                      LogTimeCache& cache, std::size_t threads, ScanNotes* notes, const KnownPathTexts& known) {
  return scan_into(directory, entries, source, cache, &cache, threads, notes, known);
}

Status scan_log_files(const std::string& directory, std::vector<FileEntry>& entries, ScanSource& source,
                      const LogTimeCache& cache, std::size_t threads, ScanNotes* notes,
                      const KnownPathTexts& known) {
  return scan_into(directory, entries, source, cache, nullptr, threads, notes, known);
}

}  // namespace vexlo
