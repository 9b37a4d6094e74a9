#pragma once
// Text from outside (file names, JSON keys and strings, the configuration
// file) that may reach a terminal. A terminal takes control characters as
// commands: an escape sequence in a file name could retitle or clear it,
// write the clipboard, or forge lines of output. On a terminal they are
// shown in a visible escaped form, like `ls` quotes such names; anywhere
// else (a pipe, a file) the bytes go out unchanged.
//
// The forms, each kept for the bytes it has always written:
// - append_visible and Shown: names, paths and show's text form, \x1b;
// - JSON for a terminal: \u escapes that keep the JSON value, written by
//   the JSON writer inside its string loop (json::Escapes), which asks
//   hidden_character_at here what to escape;
// - the configuration messages, escaped wherever they go: U+FFFD in a quoted
//   line, \u{1b} in names and values (see below).
// All of them find a C1 control with is_c1_control_at (common/utf8.h).

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace vexlo {

// Which of the two output streams is a terminal.
struct TerminalOutput {
  bool out = false;
  bool err = false;
  bool no_colour = false;  // the environment asks for no colour (NO_COLOR)
  int rows = 0;            // of the terminal on standard output, when it says
  int columns = 0;
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

// A character beyond the C0 controls and DEL that a terminal acts on or
// shows as nothing, at some byte of a text: its code point and the length
// of its encoding.
struct HiddenCharacter {
  char32_t code_point;
  std::size_t length;
};

// The C1 control (U+0080 to U+009F) or the character that reorders or hides
// text (the list at append_visible) that starts at byte `at`, if any. The
// JSON writer asks this too, for JSON that goes to a terminal: there the
// same characters become \u escapes, which keep the JSON value.
std::optional<HiddenCharacter> hidden_character_at(std::string_view text, std::size_t at);

// The messages about the configuration file escape wherever they go, not
// only on a terminal, in two forms of their own: their text was fixed byte
// for byte before the forms above. Both escape the C0 controls, DEL and
// U+0080 to U+009F (the same C1 test as append_visible), and leave the
// characters that reorder or hide text.

// For a line of the configuration file quoted above carets that point into
// it: each control character but the tab becomes one U+FFFD, so that every
// caret stays under the character it marks (an escape would push the line
// to the right of its carets).
std::string controls_replaced(std::string_view line);

// For names and descriptions inside configuration messages: \n, \r, \t,
// \0 and \u{1b}-style escapes. Quotes and backslashes stay; the message
// quotes the text in backticks.
std::string braced_escapes(std::string_view text);

// A string value of the configuration file as messages show it: in double
// quotes, with quotes and backslashes escaped too, as it would be written in
// the file.
std::string quoted_with_braced_escapes(std::string_view value);

// Streams `text` as it is, or through append_visible when `terminal`.
struct Shown {
  std::string_view text;
  bool terminal;
  Controls controls = Controls::EscapeAll;
};
std::ostream& operator<<(std::ostream& out, const Shown& shown);

}  // namespace vexlo
