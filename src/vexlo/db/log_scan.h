#pragma once
// The scan of the log root and the pieces that decide what a file
// contributes.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "vexlo/common/error.h"
#include "vexlo/db/file_entry.h"
#include "vexlo/db/log_time_reader.h"
#include "vexlo/db/log_tree.h"

namespace vexlo {

class LogTimeCache;

// At most this many threads read log files at once, however many
// processors there are: past a few, the disk is the limit.
inline constexpr std::size_t kMaxReadThreads = 8;

// Path texts mapped to the path bytes they were made from.
using SystemPaths = std::unordered_map<std::string, std::string>;

// The bytes a path text stands for: those `paths` holds for it, else the
// text itself.
std::string system_path_of(const SystemPaths& paths, const std::string& text);

// What a scan passed over besides the files that are no logs.
struct ScanNotes {
  // In discovery order. The files below them that the database holds keep
  // their IDs, as unreadable ones do.
  std::vector<PassedOverDirectory> passed_over;
  // The paths of the regular "json" files that could not be read or parsed
  // this time, in discovery order, as text like the entries' paths: such a
  // file is still there, only its time is unknown for now.
  std::vector<std::string> unreadable;
  // One directory (as text) per "json" file passed over because its path
  // gives the text of another file's: names that are not UTF-8 read alike
  // once their odd bytes are replaced, and a path text names one file only.
  std::vector<std::string> repeated_text_in;
  // The bytes of each listed path that is not UTF-8, by its text: what
  // reads the file again must open the file the scan found, not a name
  // spelled with U+FFFD.
  SystemPaths system_paths;
};

// For a path a scan found, and the position of the cache's record of that
// path (none when it has none), an equal text already held elsewhere (in
// the database's entries), or none: the entry then shares that text rather
// than hold a copy.
using KnownPathTexts =
    std::function<std::optional<SharedText>(std::string_view path, std::optional<std::size_t> cache_record)>;

// Appends one entry per JSON log file found below `directory`, in
// discovery order, or returns the error that ended the scan. Files that
// `cache` knows in their present state are not read; the others are read
// by up to `threads` threads at once. A completed scan leaves in the cache
// what it found, in its order. A path text is given to one file only: the
// one whose path it is byte for byte, else the first whose path gives it.
// With `notes`, what was passed over is appended to it.
Status scan_log_files(const std::string& directory, std::vector<FileEntry>& entries, ScanSource& source,
                      LogTimeCache& cache, std::size_t threads, ScanNotes* notes = nullptr,
                      const KnownPathTexts& known = {});
// The same scan asking `cache` but leaving it as it is, for a scan whose
// findings no one would save.
Status scan_log_files(const std::string& directory, std::vector<FileEntry>& entries, ScanSource& source,
                      const LogTimeCache& cache, std::size_t threads, ScanNotes* notes = nullptr,
                      const KnownPathTexts& known = {});

}  // namespace vexlo
