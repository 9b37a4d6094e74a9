#include "testing/json_equal.h"

#include <bit>
#include <cstdint>

namespace vexlo::testing {

bool json_equal(json::Value a, json::Value b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case json::Kind::Null:
      return true;
    case json::Kind::Boolean:
      return a.as_bool() == b.as_bool();
    case json::Kind::Unsigned:
      return a.as_unsigned() == b.as_unsigned();
    case json::Kind::Signed:
      return a.as_signed() == b.as_signed();
    case json::Kind::Float:
      return std::bit_cast<std::uint64_t>(a.as_float()) == std::bit_cast<std::uint64_t>(b.as_float());
    case json::Kind::String:
      return a.as_string() == b.as_string();
    case json::Kind::Array:
    case json::Kind::Object:
      break;
  }
  if (a.size() != b.size()) return false;
  const bool is_object = a.kind() == json::Kind::Object;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (is_object) {
      if (a.member_name(i) != b.member_name(i) || !json_equal(a.member_value(i), b.member_value(i))) {
        return false;
      }
    } else if (!json_equal(a.element(i), b.element(i))) {
      return false;
    }
  }
  return true;
}

}  // namespace vexlo::testing
