// Where a device's jailbreak keeps its files. A rootful jailbreak puts them where the system
// names them (/Library/..., /usr/bin/...); a rootless one (iOS 15 and later) puts every one of
// them under /var/jb, and that folder being there is how anything on a phone tells the two
// apart. The system's own files and the user's (/System, /var/mobile) are the same under both.
#pragma once

#include <string>
#include <string_view>

namespace Platform {

// "/var/jb" on a rootless device, "" on a rootful one.
std::string_view rootlessJailbreakRoot();

// The jailbreak's root on the device at hostRoot: rootlessJailbreakRoot() when the device has
// that folder, "" otherwise.
std::string_view jailbreakRootOf(const std::string& hostRoot);

// The same for this process's device (resolved under its device root, which must be set).
std::string_view jailbreakRoot();

} // namespace Platform
