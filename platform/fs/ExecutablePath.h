// Where the running program lives: programs installed in a device find their own device
// from their executable's host path.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Platform {

// The host path of the running executable (/proc/self/exe), without the " (deleted)" the
// kernel appends once the file is gone. Empty if it cannot be read.
std::string executablePath();

// The same for any process: /proc/PID/exe ("self" for this one); nullopt when it cannot be read.
std::optional<std::string> executablePathOfProcess(std::string_view pid);

// If hostExecutablePath ends with deviceExecutablePath on a component boundary, the host path
// before it: the root of the device the program is installed in. nullopt otherwise, and also
// when nothing precedes it (a program at its device path on the machine itself has no device).
std::optional<std::string> deviceRootOfExecutable(
    std::string_view hostExecutablePath, std::string_view deviceExecutablePath);

} // namespace Platform
