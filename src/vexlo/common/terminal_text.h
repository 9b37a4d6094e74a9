#pragma once
// Text from outside (file names, JSON keys and strings) shown on a
// terminal. A terminal takes control characters as commands: an escape
// sequence in a file name could retitle or clear it, write the clipboard,
// or forge lines of output. On a terminal they are shown in a visible
// escaped form, like `ls` quotes such names; anywhere else (a pipe, a file)
// the bytes go out unchanged.

#include <ostream>
#include <string>
#include <string_view>

namespace vexlo {

// Which of the two output streams is a terminal.
struct TerminalOutput {
  bool out = false;
  bool err = false;
};

enum class Controls {
  EscapeAll,           // names and paths
  KeepTabAndLineFeed,  // multi-line values stay readable
};

// Appends `text` with each control character escaped: C0 as \t, \n, \r or
// \xHH, DEL as \x7f, and U+0080 to U+009F as \u0080 to \u009f. So are the
// characters that reorder or hide text and could make one name look like
// another (U+061C, U+200B to U+200F, U+202A to U+202E, U+2060 to U+2064,
// U+2066 to U+2069, U+2028, U+2029, U+FEFF), as \u202e and the like, and a
// backslash is written \\, so that no name looks like an escaped one. Every
// other byte, also one that is not part of valid UTF-8, is appended as it is.
void append_visible(std::string& out, std::string_view text, Controls controls = Controls::EscapeAll);

// JSON text with DEL, U+0080 to U+009F and the characters that reorder or
// hide text (see append_visible) inside its strings written as \u escapes
// (C0 characters and backslashes are escaped by the JSON writer already),
// so that it stays the same JSON value.
void append_visible_json(std::string& out, std::string_view json_text);

// Streams `text` as it is, or through append_visible when `terminal`.
struct Shown {
  std::string_view text;
  bool terminal;
  Controls controls = Controls::EscapeAll;
};
std::ostream& operator<<(std::ostream& out, const Shown& shown);

}  // namespace vexlo
