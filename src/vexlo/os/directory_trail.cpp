// Going back up costs one open of ".." from the directory left, when that
// leads to the directory entered before (the usual case: no link on the
// way, nothing moved); otherwise the trail is entered again from its
// deepest open directory, name by name under the caller's rule.

#include "vexlo/os/directory_trail.h"

#include <cerrno>

namespace vexlo::os {

Status DirectoryTrail::start(Directory top, std::string path) {
  levels_.clear();
  auto status = top.status();
  if (!status) return std::unexpected(status.error());
  levels_.push_back(Level{"", std::move(path), *status, std::move(top)});
  return {};
}

Status DirectoryTrail::enter(const std::string& name) {
  auto entered = enter_(end(), name);
  if (!entered) return std::unexpected(entered.error());
  auto status = entered->status();
  if (!status) return std::unexpected(status.error());
  levels_.push_back(Level{name, join_path(levels_.back().path, name), *status, std::move(*entered)});
  // The top stays open, and the last kMostOpen below it.
  if (levels_.size() > kMostOpen + 1) levels_[levels_.size() - kMostOpen - 1].open.reset();
  return {};
}

Status DirectoryTrail::leave() {
  std::optional<Directory> left = std::move(levels_.back().open);
  levels_.pop_back();
  if (levels_.empty() || levels_.back().open) return {};
  return reopen_end(std::move(left));
}

namespace {

bool is_directory(const Directory& directory, const FileStatus& expected) {
  const auto status = directory.status();
  return status && same_file(*status, expected);
}

}  // namespace

Status DirectoryTrail::reopen_end(std::optional<Directory> left) {
  if (left) {
    auto parent = left->open_entry("..", Links::DoNotFollow);
    if (parent && is_directory(*parent, levels_.back().status)) {
      levels_.back().open = std::move(*parent);
      return {};
    }
  }
  std::size_t from = levels_.size() - 1;
  while (!levels_[from].open) --from;  // the top is always open
  for (std::size_t level = from + 1; level < levels_.size(); ++level) {
    auto entered = enter_(*levels_[level - 1].open, levels_[level].name);
    if (!entered || !is_directory(*entered, levels_[level].status)) {
      levels_.clear();
      return std::unexpected(os_error(entered ? ENOENT : entered.error().os_code));
    }
    levels_[level].open = std::move(*entered);
    // Only the last kMostOpen stay open, as on the way down.
    if (level > kMostOpen && level - kMostOpen > from) levels_[level - kMostOpen].open.reset();
  }
  return {};
}

}  // namespace vexlo::os
