#pragma once
// UTF-8 checks for text that comes from outside: file contents and the
// byte strings the file system uses for names.

#include <cstddef>
#include <string>
#include <string_view>

namespace vexlo {

// The error text for content that is not valid UTF-8.
inline constexpr std::string_view kInvalidUtf8Text = "stream did not contain valid UTF-8";

bool is_valid_utf8(std::string_view bytes);

// Length of the well-formed UTF-8 sequence starting at byte `at`, or 0 when
// the bytes there do not start one (an overlong form, a surrogate, more
// than U+10FFFF, a cut-off end). `*invalid_prefix`, when given, receives
// how many bytes form the maximal ill-formed prefix (at least 1) when 0 is
// returned.
std::size_t utf8_sequence_length(std::string_view bytes, std::size_t at, std::size_t* invalid_prefix = nullptr);

// Whether a byte continues a UTF-8 sequence (10xxxxxx) rather than starting
// one; counting the others counts characters.
inline bool is_continuation_byte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// Whether `text` holds a C1 control character (U+0080 to U+009F, encoded as
// C2 80 to C2 9F) at byte `at`. Terminals act on them as on C0 controls.
inline bool is_c1_control_at(std::string_view text, std::size_t at) {
  return at + 1 < text.size() && static_cast<unsigned char>(text[at]) == 0xC2 &&
         static_cast<unsigned char>(text[at + 1]) >= 0x80 && static_cast<unsigned char>(text[at + 1]) <= 0x9F;
}

// Returns the bytes unchanged when they are valid UTF-8; otherwise every
// maximal ill-formed subsequence is replaced by U+FFFD.
std::string to_utf8_lossy(std::string_view bytes);

// The bytes without a multi-byte sequence at their very end that lacks
// only its continuation bytes: the text of a cut-off read, which the rest
// of the input might have completed.
std::string_view without_partial_last_character(std::string_view bytes);

}  // namespace vexlo
