#pragma once
// A temporary directory for one test, removed with everything below it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexlo::testing {

class ScopedTempDir {
 public:
  ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  ~ScopedTempDir();

  const std::string& path() const { return path_; }
  // path() joined with `relative`.
  std::string operator/(std::string_view relative) const;

 private:
  std::string path_;
};

// Writes a file, creating missing parent directories; sets its
// modification time when one is given.
void write_file(const std::string& path, std::string_view content,
                std::optional<std::int64_t> mtime = std::nullopt);
std::string read_file(const std::string& path);
// Names in a directory in the order the system yields them, without "."
// and "..".
std::vector<std::string> directory_names(const std::string& path);
// The same, sorted.
std::vector<std::string> names_in(const std::string& path);
void make_dirs(const std::string& path);
// Removes a tree, making directories writable and searchable first.
void remove_tree(const std::string& path);

}  // namespace vexlo::testing
