#pragma once
// Finds the first entry with a given path in a list of entries without
// walking the list on every lookup.

#include <cstddef>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vexlo {

struct FileEntry;

class PathIndex {
 public:
  PathIndex() = default;
  // The index points into the list it was built for; a moved index starts
  // empty and is rebuilt for its own list on first use.
  PathIndex(PathIndex&&) noexcept {}
  PathIndex& operator=(PathIndex&&) noexcept {
    clear();
    return *this;
  }

  // Position of the first entry of `files` whose path equals `path`. The
  // list must be the same, unchanged, from one call to the next until
  // clear() is called.
  std::optional<std::size_t> find(const std::vector<FileEntry>& files, std::string_view path);
  void clear();

 private:
  std::unordered_map<std::string_view, std::size_t> first_;
  bool built_ = false;
};

}  // namespace vexlo
