#pragma once
// The two rules of show's flat text form that matching by content relies
// on too, so that a KEY and a VALUE read off the text form always find what
// they name.

#include <string>
#include <string_view>

#include "vexlo/json/json.h"

namespace vexlo {

// Extends the key path of an object to that of its member `name`: the name
// alone when the path is empty (the top level, or a member named "" there),
// else the path, "." and the name, joined as they are.
inline void append_member_path(std::string& path, std::string_view name) {
  if (!path.empty()) path += '.';
  path += name;
}

// Whether `value` is a scalar, which the text form prints as one value
// followed by an empty line; arrays and objects print only what they hold.
inline bool is_scalar(json::Value value) {
  return value.kind() != json::Kind::Array && value.kind() != json::Kind::Object;
}

// Appends the text of a scalar as the text form prints it, without escaping
// anything: "null", "true", "false", the number text, or the string's
// characters without quotation marks.
void append_scalar_text(std::string& out, json::Value scalar);

}  // namespace vexlo
