#pragma once
// JSON documents written at test time that bring what large real-world
// documents bring: size, floats of every magnitude and precision, deep
// nesting, and text in many scripts, escaped and raw. The same seed gives
// the same document, so a failure can be reproduced.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vexlo::testing {

// An object of about `bytes` bytes: records with nested objects and arrays,
// member names and strings in several scripts (raw UTF-8 of two to four
// bytes, \u escapes with surrogate pairs, escaped control characters),
// integers up to the 64-bit limits, floats and coordinate arrays.
std::string large_json_document(std::uint64_t seed, std::size_t bytes);

// `count` float literals, each valid JSON: finite doubles of random bits
// (subnormals included) in shortest, 17-digit and over-long form, and
// decimal fractions of up to 20 digits with exponents from -300 to 300.
std::vector<std::string> float_literals(std::uint64_t seed, std::size_t count);

// Arrays and objects nested `depth` levels deep, alternately, each level
// holding a few values beside the next level; the innermost is an empty
// array.
std::string deeply_nested_json(int depth);

}  // namespace vexlo::testing
