#pragma once
// Running part of a test in a child process, optionally as an unprivileged
// user so that file permissions apply under root too. Every test that needs
// permissions to hold drops privileges through run_unprivileged (or
// run_in_child with `unprivileged`), so there is one way to do it.

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

namespace vexlo::testing {

// The user and group the tests drop to: "nobody" on Debian.
inline constexpr uid_t kUnprivilegedId = 65534;

// Switches this process for good to user and group kUnprivilegedId with no
// supplementary groups (real, effective and saved IDs alike, so it cannot
// switch back). Only a privileged process can; false when it failed.
// Meant for a child process: run_in_child calls it.
bool drop_privileges();

// Forks, runs `body` in the child and returns what it returned, or no value
// when the child could not run it (the reason in `*why`). With
// `unprivileged`, a child of root first drops privileges. An exception in
// the body fails the child, not the test process.
std::optional<std::string> run_in_child(const std::function<std::string()>& body, bool unprivileged,
                                        std::string* why);

// Runs `body` where permission checks apply: in this process when it is not
// privileged, else in a child as user kUnprivilegedId.
std::optional<std::string> run_unprivileged(const std::function<std::string()>& body, std::string* why);

// Gives `path` and everything below it to kUnprivilegedId (without following
// symbolic links); does nothing unless this process is privileged. Empty
// when done, else what failed.
std::string give_to_unprivileged_user(const std::string& path);

}  // namespace vexlo::testing
