#pragma once
// Selecting logs by what they say: conditions on the key paths and values
// of show's flat text form.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "vexlo/json/json.h"

namespace vexlo {

// One "--where" condition. KEY is a dotted key path as the text form prints
// it on a line of its own; the condition holds when some scalar under that
// path passes the test. Array elements carry no index, so every element of
// an array is under the array's own path.
struct WhereCondition {
  enum class Test {
    Equals,    // KEY=VALUE: the value text is VALUE
    Contains,  // KEY~TEXT: the value text contains TEXT
    Present,   // KEY: there is a scalar under the path
  };
  std::string key;
  Test test = Test::Present;
  std::string value;

  bool operator==(const WhereCondition&) const = default;
};

// Reads "KEY=VALUE", "KEY~TEXT" or "KEY": the key ends at the first "=" or
// "~", and what follows is taken as it is.
WhereCondition parse_where(std::string_view text);

// Whether every condition holds for the document; true for none.
bool matches_all(json::Value root, std::span<const WhereCondition> conditions);

// The same for a text already known to be one JSON value, read as it
// stands: no document is built, and memory grows with nothing but the
// nesting and the conditions. For at most kMaxStreamedConditions.
bool matches_all_in_text(std::string_view text, std::span<const WhereCondition> conditions);
inline constexpr std::size_t kMaxStreamedConditions = 64;
// The conditions a matcher without a document has met so far: bit i for
// condition i.
using MetConditions = std::uint64_t;
// Every bit of `count` conditions set.
constexpr MetConditions all_conditions_met(std::size_t count) {
  return count >= kMaxStreamedConditions ? ~MetConditions{0} : (MetConditions{1} << count) - 1;
}
// The same for a document parsed without its index, read in the order of
// its text; also for at most kMaxStreamedConditions.
bool matches_all(json::ParsedText document, std::span<const WhereCondition> conditions);

// The two rules of matching. Whether a key path `path` can lie on the way
// to `key`: it is `key`, or a path whose members can extend it to `key`.
// The empty path extends to any key (a top-level member named "" adds
// nothing to the path).
bool leads_to(std::string_view path, std::string_view key);
// Whether the text of a scalar passes the condition's test.
bool passes(const WhereCondition& condition, std::string_view text);

// Reads the document as a condition reads it: calls `take` with the index
// in `keys` of each key and the text of each scalar under that key path, in
// the order of the document (a key given twice gets each value twice).
void read_key_values(json::Value root, std::span<const std::string> keys,
                     const std::function<void(std::size_t key, std::string_view text)>& take);

}  // namespace vexlo
