// The device root: the host directory that stands for the simulated device's "/". Every
// device path the system uses ("/var/mobile/...") is resolved under it, never on the machine.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Platform {

// Process-wide. The path is made absolute and normalised; an empty path or "/" is a programmer
// error (std::logic_error), since a device must never be the machine itself.
void setDeviceRoot(std::string hostPath);
void clearDeviceRoot();
std::optional<std::string> deviceRoot();

// The host path of a device path. Normalised lexically: empty components and "." vanish and
// ".." stops at the device root, as in a chroot. A relative path is taken as absolute; a NUL
// ends the path, as it would for the system. Throws std::logic_error when no root is set.
std::string resolve(std::string_view devicePath);

// Whether the device path names something (following symlinks); false on any error.
bool fileExists(std::string_view devicePath);

} // namespace Platform
