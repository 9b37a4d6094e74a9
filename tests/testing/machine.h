#pragma once
// What a test needs of the machine it runs on, found out before the test
// leans on it: a second user, a pseudo-terminal, a read-only bind mount in
// a mount namespace of the run's own, an installed program. A chroot, a
// container or an unprivileged account may lack any of them; a test that
// needs one then skips and gives the reason, so that it fails only on a
// fault of vexlo. Each probe returns why the machine cannot, or "" when it
// can.

#include <string>
#include <vector>

namespace vexlo::testing {

// The user that permission bits bind, able to search or execute `path`:
// as root, a child process that switched to kUnprivilegedId (see
// child_process.h); otherwise the user running the tests.
std::string why_no_second_user(const std::string& path);

// A pseudo-terminal that can be opened and set to raw mode.
std::string why_no_terminal();

// An executable program at `path`.
std::string why_no_program(const std::string& path);

// The command that runs a program with `directory` bind-mounted read-only
// in a mount namespace of its own, so that nothing outlives the run: its
// first word is the path of unshare; append the program and its arguments.
std::vector<std::string> read_only_mount_command(const std::string& directory);

// read_only_mount_command works here, on `directory`.
std::string why_no_read_only_mount(const std::string& directory);

}  // namespace vexlo::testing
