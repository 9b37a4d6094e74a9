#pragma once
// Set-up of the standard descriptors before a run writes anything.

namespace vexlo::os {

inline constexpr int kStandardInput = 0;
inline constexpr int kStandardOutput = 1;
inline constexpr int kStandardError = 2;

// Makes sure descriptors 0, 1 and 2 are open. A program started with one of
// them closed would otherwise hand that number to the next file it opens
// (the database file, say), and output meant for the terminal would land
// in it. A closed one is replaced by /dev/null opened read-only, so writes
// to it still fail with EBADF as they would on the closed descriptor.
void reserve_standard_descriptors();

// Lets a write to a pipe whose reader has gone fail with EPIPE instead of
// ending the process, so that the run ends in its own orderly way.
void ignore_broken_pipe_signal();

// Whether the descriptor is a terminal, which takes control characters in
// the output as commands.
bool is_terminal(int fd);

// Whether the environment variable `name` is set to a value that is not
// empty, as NO_COLOR asks.
bool environment_has_value(const char* name);

// Whether the other end of `fd` has gone: a terminal closed (its window,
// its multiplexer) or a pipe whose writer has ended. Never waits.
bool hung_up(int fd);

// When the descriptor is a pipe, waits until its reader has taken every
// byte written to it, so that what was written is no longer lost with the
// pipe when the reader dies. False when the reader has gone first; true
// at once for anything but a pipe.
bool wait_until_read(int fd);

}  // namespace vexlo::os
