#pragma once
// Finds the first item with a given path in a list of items that have a
// `path` (database entries, log time cache records) without walking the
// list on every lookup.

#include <cstddef>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vexlo {

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

  // Position of the first item of `items` whose path equals `path`. The
  // list must be the same, unchanged, from one call to the next until
  // clear() is called.
  template <class Item>
  std::optional<std::size_t> find(const std::vector<Item>& items, std::string_view path) {
    if (!built_) {
      first_.reserve(items.size());
      // emplace keeps the first position of a repeated path.
      for (std::size_t i = 0; i < items.size(); ++i) first_.emplace(items[i].path, i);
      built_ = true;
    }
    return position(path);
  }
  void clear();

 private:
  std::optional<std::size_t> position(std::string_view path) const;

  std::unordered_map<std::string_view, std::size_t> first_;
  bool built_ = false;
};

}  // namespace vexlo
