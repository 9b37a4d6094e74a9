#include "vexlo/query/memory_budget.h"

#include <algorithm>

#include "vexlo/json/memory_needs.h"

namespace vexlo {

std::string refusal_for(std::string_view text, LogHolding holding, std::uint64_t slack) {
  const std::uint64_t size = text.size();
  if (size * (json::kWorstNeedsPerTextByte + 2) <= slack) return {};
  const json::MemoryNeeds needs = json::memory_needs(text);
  const std::uint64_t line = holding.line ? size : 0;
  // Members are put in name order as the index is built, or as the
  // document is written out without one.
  const std::uint64_t index = (holding.indexed ? needs.index : 0) + needs.ordering;
  // Without the parser kept, its index goes before the document's.
  const std::uint64_t held = holding.parser_kept ? needs.parsing + needs.document + index + line
                                                 : needs.document + std::max(needs.parsing, index + line);
  const std::uint64_t peak = size + held;
  if (peak <= 3 * size + slack) return {};
  constexpr std::uint64_t kMegabyte = 1'000'000;
  return "too large to hold in memory (needs about " + std::to_string((peak + kMegabyte - 1) / kMegabyte) + " MB)";
}

std::uint64_t uncounted_log_size(std::size_t readers) {
  return kMemorySlack / 2 / std::max<std::size_t>(readers, 1) / (json::kWorstNeedsPerTextByte + 2);
}

}  // namespace vexlo
