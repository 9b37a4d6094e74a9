#include "vexlo/cli/close_spelling.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace vexlo {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The number of single letters typed wrong, left out, added, or swapped
// with their neighbour that turn `a` into `b` (optimal string alignment).
std::size_t typing_distance(std::string_view a, std::string_view b) {
  const std::size_t width = b.size() + 1;
  std::vector<std::size_t> d((a.size() + 1) * width);
  auto at = [&](std::size_t i, std::size_t j) -> std::size_t& { return d[i * width + j]; };
  for (std::size_t i = 0; i <= a.size(); ++i) at(i, 0) = i;
  for (std::size_t j = 0; j <= b.size(); ++j) at(0, j) = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
      at(i, j) = std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + cost});
      if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1])) {
        at(i, j) = std::min(at(i, j), at(i - 2, j - 2) + 1);
      }
    }
  }
  return at(a.size(), b.size());
}

// The letters of a word that a typo can hit: the dashes of an option are
// typed right or the word is not taken for an option at all.
std::size_t letters(std::string_view word) { return word.size() - std::min(word.find_first_not_of('-'), word.size()); }

}  // namespace

std::optional<std::string_view> close_spelling(std::string_view typed, std::span<const std::string_view> known) {
  // Arguments can be long; a word far longer than every option is no typo.
  constexpr std::size_t kLongestCompared = 64;
  if (typed.size() > kLongestCompared) return std::nullopt;
  std::optional<std::string_view> closest;
  std::size_t closest_distance = 3;  // more is no typo
  for (const std::string_view word : known) {
    const std::size_t distance = typing_distance(typed, word);
    if (distance < closest_distance && 2 * distance < letters(word)) {
      closest = word;
      closest_distance = distance;
    }
  }
  return closest;
}

}  // namespace vexlo
