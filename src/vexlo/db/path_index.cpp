#include "vexlo/db/path_index.h"

#include "vexlo/db/file_entry.h"

namespace vexlo {

std::optional<std::size_t> PathIndex::find(const std::vector<FileEntry>& files, std::string_view path) {
  if (!built_) {
    first_.reserve(files.size());
    // emplace keeps the first position of a repeated path.
    for (std::size_t i = 0; i < files.size(); ++i) first_.emplace(files[i].path, i);
    built_ = true;
  }
  const auto it = first_.find(path);
  if (it == first_.end()) return std::nullopt;
  return it->second;
}

void PathIndex::clear() {
  first_.clear();
  built_ = false;
}

}  // namespace vexlo
