#pragma once
// The filter line of the view holds the words of a command line after
// `browse`, typed as a shell would take them, so that a line copied from
// the shell means the same there.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vexlo::browse {

// Splits at blanks. Inside '...' every byte stands for itself; inside
// "..." a backslash keeps the next quote or backslash; outside quotes a
// backslash keeps the next byte. An open quote runs to the end of the line.
// No byte is given a meaning beyond that: nothing is expanded.
std::vector<std::string> split_words(std::string_view line);

// The words written back as a line that split_words reads as the same
// words: a word with a blank, a quote, a backslash or nothing in it goes in
// single quotes.
std::string joined_words(std::span<const std::string> words);

}  // namespace vexlo::browse
