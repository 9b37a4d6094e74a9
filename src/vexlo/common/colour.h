#pragma once
// Colour for a terminal: JSON and show's text form coloured by kind, in
// the colours that command-line JSON processors use by default (keys bold
// blue, strings green, null grey, brackets bold). Only escape sequences
// of its own are added; the text in between goes out as it came.

#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace vexlo {

enum class ColourChoice { Auto, Always, Never };

// Whether to colour: always, never, or (auto) on a terminal unless the
// environment's NO_COLOR holds a value.
bool uses_colour(ColourChoice choice, bool terminal, bool no_colour_set);

namespace colour {
inline constexpr std::string_view kKey = "\x1b[34;1m";
inline constexpr std::string_view kString = "\x1b[0;32m";
inline constexpr std::string_view kPlain = "\x1b[0;39m";  // numbers, true and false
inline constexpr std::string_view kNull = "\x1b[1;30m";
inline constexpr std::string_view kBracket = "\x1b[1;39m";
inline constexpr std::string_view kReset = "\x1b[0m";
}  // namespace colour

// Colours JSON text written through it, in pieces of any size, and hands it
// on to `target`. A string is a key when a colon follows it at once, as the
// JSON writers put it. `finish` writes what is held back.
class JsonColourBuffer : public std::streambuf {
 public:
  explicit JsonColourBuffer(std::ostream& target) : target_(target) {}
  void finish();

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize size) override;

 private:
  enum class State { Between, InString, InEscape, StringEnded, InScalar };
  void take(char c);
  void end_scalar();

  std::ostream& target_;
  State state_ = State::Between;
  std::string held_;  // a string not yet known to be a key or a value
  std::string out_;   // what goes to the target at the end of the piece
};

}  // namespace vexlo
