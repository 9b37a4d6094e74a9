#pragma once
// The tool's database of known log files: a stable numeric ID per path,
// kept in "<log root>/.config/vexlo-db.json".

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vexlo/common/error.h"

namespace vexlo {

struct FileEntry {
  std::string path;            // log root joined with the path below it, as UTF-8 text
  std::uint64_t id = 0;        // 0: no ID
  std::int64_t timestamp = 0;  // seconds since the epoch; never stored in the file

  bool operator==(const FileEntry&) const = default;
};

// Appends one entry per JSON log file found below `directory`, in discovery
// order, or returns the error that ended the scan.
Status scan_log_files(const std::string& directory, std::vector<FileEntry>& entries);

class Database {
 public:
  // Creates "<log_root>/.config" (with missing parents) and loads the
  // database file; a missing or broken file gives an empty database.
  static Result<Database> open(const std::string& log_root);

  Status save();
  Status sync(const std::string& log_root);

  const FileEntry* find_by_id(std::uint64_t id) const;
  const FileEntry* find_by_path(std::string_view path) const;

  const std::vector<FileEntry>& files() const { return files_; }
  std::uint64_t next_file_id() const { return next_file_id_; }
  const std::string& db_path() const { return db_path_; }

 private:
  std::string db_path_;
  std::vector<FileEntry> files_;
  std::uint64_t next_file_id_ = 1;
};

}  // namespace vexlo
