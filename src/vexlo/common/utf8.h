#pragma once
// UTF-8 checks for text that comes from outside: file contents and the
// byte strings the file system uses for names.

#include <string>
#include <string_view>

namespace vexlo {

// The error text for content that is not valid UTF-8.
inline constexpr std::string_view kInvalidUtf8Text = "stream did not contain valid UTF-8";

bool is_valid_utf8(std::string_view bytes);

// Returns the bytes unchanged when they are valid UTF-8; otherwise every
// maximal ill-formed subsequence is replaced by U+FFFD.
std::string to_utf8_lossy(std::string_view bytes);

// The bytes without a multi-byte sequence at their very end that lacks
// only its continuation bytes: the text of a cut-off read, which the rest
// of the input might have completed.
std::string_view without_partial_last_character(std::string_view bytes);

}  // namespace vexlo
