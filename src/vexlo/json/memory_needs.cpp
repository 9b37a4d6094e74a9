// The parser keeps 4 bytes for each token of the text (each structural
// character and the start of each scalar), a tape of 8 bytes for each
// literal, string and container end and 16 for each number, and every
// string with 4 bytes of length and a final zero; the index takes 4 bytes
// for each container and each of its children, and each object's members
// are put in name order through a list of 16 bytes a member (all of them,
// as the lists of nested objects may be held at once), sorted with a
// buffer of half as many. Strings are counted at
// their length in the text, which their unescaped form never exceeds.
//
// The text is read 64 bytes at a time as bit masks, one bit a byte, as the
// parser itself finds its tokens: a byte-by-byte walk took a sixth of
// showing a large log.

#include "vexlo/json/memory_needs.h"

#include <cstring>

namespace vexlo::json {
namespace {

constexpr std::size_t kChunk = 64;

// Sixteen bytes, compared at once by the compiler's vector operations.
using Block = unsigned char __attribute__((vector_size(16)));

// One bit for each lane of a comparison (lanes all ones or all zeros),
// lane 0 the lowest.
std::uint64_t lanes_of(Block hit) {
#if defined(__SSE2__)
  using SignedBlock = char __attribute__((vector_size(16)));
  return static_cast<std::uint16_t>(__builtin_ia32_pmovmskb128(reinterpret_cast<SignedBlock>(hit)));
#else
  // The bytes of each half are distinct bits, so their sum, which a
  // product gathers in the top byte, holds them all.
  constexpr Block kLaneBits = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  const Block bits = hit & kLaneBits;
  std::uint64_t halves[2];
  std::memcpy(halves, &bits, sizeof halves);
  constexpr std::uint64_t kSumOfBytes = 0x0101010101010101;
  return ((halves[0] * kSumOfBytes) >> 56) | (((halves[1] * kSumOfBytes) >> 56) << 8);
#endif
}

// std::popcount without an instruction for it is a call into the
// compiler's library, several a chunk.
std::uint64_t bit_count(std::uint64_t bits) {
  bits -= (bits >> 1) & 0x5555555555555555;
  bits = (bits & 0x3333333333333333) + ((bits >> 2) & 0x3333333333333333);
  bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0F;
  return (bits * 0x0101010101010101) >> 56;
}

// The bytes of a chunk of the text that matter here, one bit each.
struct Chunk {
  std::uint64_t quote = 0;
  std::uint64_t backslash = 0;
  std::uint64_t space = 0;
  std::uint64_t op = 0;         // , : [ ] { }
  std::uint64_t open = 0;       // [ {
  std::uint64_t colon = 0;      // one a member
  std::uint64_t numeric = 0;    // - and digits, which begin numbers

  explicit Chunk(const char* at) {
    for (unsigned block = 0; block < kChunk / sizeof(Block); ++block) {
      Block b;
      std::memcpy(&b, at + block * sizeof b, sizeof b);
      const unsigned shift = block * sizeof b;
      const Block open_bracket = (b == '[') | (b == '{');
      quote |= lanes_of(b == '"') << shift;
      backslash |= lanes_of(b == '\\') << shift;
      space |= lanes_of((b == ' ') | (b == '\t') | (b == '\n') | (b == '\r')) << shift;
      op |= lanes_of(open_bracket | (b == ']') | (b == '}') | (b == ',') | (b == ':')) << shift;
      open |= lanes_of(open_bracket) << shift;
      colon |= lanes_of(b == ':') << shift;
      numeric |= lanes_of((b == '-') | (static_cast<Block>(b - '0') < 10)) << shift;
    }
  }
};

// Each bit set where an odd number of the bits up to it are.
std::uint64_t prefix_xor(std::uint64_t bits) {
  for (unsigned shift = 1; shift < kChunk; shift *= 2) bits ^= bits << shift;
  return bits;
}

class Counter {
 public:
  // `valid` has a bit for each byte of the chunk that belongs to the text.
  void count(const Chunk& chunk, std::uint64_t valid) {
    const std::uint64_t quote = chunk.quote & ~escaped(chunk.backslash);
    // From each opening quote up to its closing one, that one left out.
    const std::uint64_t in_string = (prefix_xor(quote) ^ in_string_before_) & valid;
    in_string_before_ = static_cast<std::uint64_t>(static_cast<std::int64_t>(in_string) >> 63);
    const std::uint64_t opening = quote & in_string;
    const std::uint64_t outside = ~in_string & ~quote & valid;
    const std::uint64_t scalar = outside & ~chunk.space & ~chunk.op;
    const std::uint64_t scalar_start = scalar & ~((scalar << 1) | scalar_before_);
    scalar_before_ = scalar >> 63;
    ops_ += bit_count(chunk.op & outside);
    containers_ += bit_count(chunk.open & outside);
    members_ += bit_count(chunk.colon & outside);
    strings_ += bit_count(opening);
    scalars_ += bit_count(scalar_start);
    numbers_ += bit_count(scalar_start & chunk.numeric);
    // A string from its opening quote through its closing one.
    string_text_ += bit_count(in_string) + bit_count(quote & ~in_string);
  }

  MemoryNeeds needs() const {
    const std::uint64_t values = containers_ + strings_ + scalars_;
    const std::uint64_t tokens = ops_ + strings_ + scalars_;
    // The root's two words, two for each container, one for each other
    // value and a second for each number.
    const std::uint64_t tape_words = 2 + 2 * containers_ + strings_ + scalars_ + numbers_;
    // 4 bytes of length and a final zero in place of the two quotes.
    const std::uint64_t string_bytes = string_text_ + 3 * strings_;
    return MemoryNeeds{.parsing = 4 * (tokens + 1),
                       .document = 8 * tape_words + string_bytes,
                       .index = 4 * (containers_ + values),
                       .ordering = 24 * members_};
  }

 private:
  // The bytes that a backslash escapes: of each run of backslashes, every
  // second one, and the byte after a run of odd length.
  std::uint64_t escaped(std::uint64_t backslash) {
    backslash &= ~escaped_before_;
    const std::uint64_t follows_backslash = (backslash << 1) | escaped_before_;
    constexpr std::uint64_t kEvenBits = 0x5555555555555555;
    const std::uint64_t odd_starts = backslash & ~kEvenBits & ~follows_backslash;
    std::uint64_t even_run_ends = 0;
    escaped_before_ = __builtin_add_overflow(odd_starts, backslash, &even_run_ends) ? 1 : 0;
    return (kEvenBits ^ (even_run_ends << 1)) & follows_backslash;
  }

  std::uint64_t escaped_before_ = 0;    // 1 when the next chunk's first byte is escaped
  std::uint64_t in_string_before_ = 0;  // all ones when the next chunk begins inside a string
  std::uint64_t scalar_before_ = 0;     // 1 when the last chunk ended inside a scalar
  std::uint64_t ops_ = 0;
  std::uint64_t containers_ = 0;
  std::uint64_t members_ = 0;
  std::uint64_t strings_ = 0;
  std::uint64_t scalars_ = 0;
  std::uint64_t numbers_ = 0;
  std::uint64_t string_text_ = 0;
};

}  // namespace

MemoryNeeds memory_needs(std::string_view text) {
  Counter counter;
  std::size_t at = 0;
  for (; at + kChunk <= text.size(); at += kChunk) counter.count(Chunk(text.data() + at), ~std::uint64_t{0});
  if (at < text.size()) {
    // The last bytes, on a copy, so that none past the text is read.
    char tail[kChunk];
    std::memset(tail, ' ', sizeof tail);
    std::memcpy(tail, text.data() + at, text.size() - at);
    counter.count(Chunk(tail), (std::uint64_t{1} << (text.size() - at)) - 1);
  }
  return counter.needs();
}

}  // namespace vexlo::json
