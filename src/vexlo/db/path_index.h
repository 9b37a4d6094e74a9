#pragma once
// Finds the first item with a given path in a list of items that have a
// `path` (database entries, log time cache records) without walking the
// list on every lookup.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

namespace vexlo {

// An open-addressed table of positions into the list, hashed by path: four
// bytes a slot, two slots an item, where a map of path views took about
// sixty bytes an item, which counts on a tree of a million logs.
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
    return find(items.size(), [&items](std::size_t i) -> std::string_view { return items[i].path; }, path);
  }
  // The same over `count` items whose paths `path_at` gives by position.
  template <class PathAt>
  std::optional<std::size_t> find(std::size_t count, const PathAt& path_at, std::string_view path) {
    if (count >= kNoItem) {
      for (std::size_t i = 0; i < count; ++i) {
        if (path_at(i) == path) return i;
      }
      return std::nullopt;
    }
    if (!built_) {
      reserve(count);
      // A repeated path keeps the slot of its first position.
      for (std::size_t i = 0; i < count; ++i) {
        const std::size_t slot = slot_for(path_at(i), path_at);
        if (slots_[slot] == kNoItem) slots_[slot] = static_cast<std::uint32_t>(i);
      }
      built_ = true;
    }
    const std::uint32_t found = slots_[slot_for(path, path_at)];
    if (found == kNoItem) return std::nullopt;
    return found;
  }
  void clear();

 private:
  static constexpr std::uint32_t kNoItem = std::numeric_limits<std::uint32_t>::max();

  void reserve(std::size_t items);

  // The slot that holds `path`, or the empty one where it would go.
  template <class PathAt>
  std::size_t slot_for(std::string_view path, const PathAt& path_at) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = std::hash<std::string_view>{}(path) & mask;; slot = (slot + 1) & mask) {
      if (slots_[slot] == kNoItem || path_at(slots_[slot]) == path) return slot;
    }
  }

  std::vector<std::uint32_t> slots_;  // item positions; kNoItem in an empty slot
  bool built_ = false;
};

}  // namespace vexlo
