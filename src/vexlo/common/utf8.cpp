#include "vexlo/common/utf8.h"

#include <simdjson.h>

namespace vexlo {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

}  // namespace

size_t utf8_sequence_length(std::string_view s, size_t at, size_t* invalid_prefix) {
  size_t ignored;
  if (invalid_prefix == nullptr) invalid_prefix = &ignored;
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(at);
  *invalid_prefix = 1;
  if (lead < 0x80) return 1;
  size_t need;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  for (size_t k = 1; k <= need; ++k) {
    if (at + k >= s.size()) return 0;
    const unsigned char c = byte(at + k);
    const bool ok = k == 1 ? (c >= low && c <= high) : (c >= 0x80 && c <= 0xBF);
    if (!ok) return 0;
    *invalid_prefix = k + 1;
  }
  return need + 1;
}

bool is_valid_utf8(std::string_view bytes) {
  return simdjson::validate_utf8(bytes.data(), bytes.size());
}

std::string to_utf8_lossy(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 8);
  size_t at = 0;
  while (at < bytes.size()) {
    size_t invalid_prefix = 1;
    const size_t len = utf8_sequence_length(bytes, at, &invalid_prefix);
    if (len > 0) {
      out.append(bytes.substr(at, len));
      at += len;
    } else {
      out.append(kReplacement);
      at += invalid_prefix;
    }
  }
  return out;
}

std::string_view without_partial_last_character(std::string_view bytes) {
  // A lead byte among the last three, and fewer bytes after it than it
  // announces.
  for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
    const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
    if (byte < 0x80) return bytes;
    if (byte < 0xC0) continue;  // a continuation byte: look further back
    if (byte < 0xC2 || byte > 0xF4) return bytes;  // no lead byte at all
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
    return back < length ? bytes.substr(0, bytes.size() - back) : bytes;
  }
  return bytes;
}

}  // namespace vexlo
