// Restarting a device's SpringBoard as package managers on a phone do after their work.
#pragma once

#include <string>

namespace Device {

// Whether the device is booted: a SpringBoard of its own is running.
bool isBooted(const std::string& deviceRoot);

// Restarts the device's SpringBoard through the device's own killall -9 SpringBoard
// (/usr/bin/killall, or /var/jb/usr/bin/killall when rootless). False when no SpringBoard was
// there to kill.
bool restartSpringBoard(const std::string& deviceRoot);

} // namespace Device
