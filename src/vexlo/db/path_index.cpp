#include "vexlo/db/path_index.h"

namespace vexlo {

std::optional<std::size_t> PathIndex::position(std::string_view path) const {
  const auto it = first_.find(path);
  if (it == first_.end()) return std::nullopt;
  return it->second;
}

void PathIndex::clear() {
  first_.clear();
  built_ = false;
}

}  // namespace vexlo
