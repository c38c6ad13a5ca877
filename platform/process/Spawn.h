// posix_spawn of a device path: how the system starts the device's own tools.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace Platform {

// Starts the executable at devicePath (resolved under the device root, no PATH search) with
// exactly argv and env (an empty env is an empty environment) and no attributes; its
// standard output and error go to /dev/null, as a phone's system processes write to no terminal. Returns 0 or the error number; pid, if not null, receives the child's id.
// Does not wait for the child: ChildReaper reaps it when it ends. Emits the timeline event
// "spawn PATH ARGS..." before starting it, and "spawn-failed PATH error=REASON" after a failure.
int spawn(
    pid_t* pid, std::string_view devicePath, const std::vector<std::string>& argv, const std::vector<std::string>& env);

} // namespace Platform
