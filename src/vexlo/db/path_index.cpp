#include "vexlo/db/path_index.h"

#include <algorithm>
#include <bit>

namespace vexlo {

// At most half the slots in use, so that a search ends soon at an empty one.
void PathIndex::reserve(std::size_t items) {
  slots_.assign(std::bit_ceil(std::max<std::size_t>(2 * items, 16)), kNoItem);
}

void PathIndex::clear() {
  slots_ = {};
  built_ = false;
}

}  // namespace vexlo
