#pragma once
// The documents of this module read simdjson's tape word by word
// (document_storage.h). That layout is the library's own business and may
// change from one release to the next, so it is checked once at run time:
// when the library's tape reads as this module expects, parsing keeps it as
// it is (the fast path); otherwise the same layout is written here from
// what the library's public interface says of the parsed value.

#include <simdjson.h>

namespace vexlo::json {

// Whether the tape of the simdjson in use has the layout of
// document_storage.h. Checked on first use, on a text holding every kind of
// value; the same answer afterwards.
bool library_tape_is_known();

// Writes `root` and everything in it into `doc` in the layout of
// document_storage.h: the slower way, through the public interface only.
simdjson::error_code write_tape(simdjson::dom::element root, simdjson::dom::document& doc);

// Whether the parser refused the text for an integer beyond both 64-bit
// ranges: NUMBER_ERROR, or BIGINT_ERROR where the library has that code.
template <class Code = simdjson::error_code>
bool is_huge_integer_error(Code code) {
  if constexpr (requires { Code::BIGINT_ERROR; }) {
    if (code == Code::BIGINT_ERROR) return true;
  }
  return code == simdjson::NUMBER_ERROR;
}

// Whether the tapes and string buffers of `a` and `b` read the same as
// document_storage.h reads them.
bool same_tape(const simdjson::dom::document& a, const simdjson::dom::document& b);

}  // namespace vexlo::json
