// The two kinds of jailbroken device: rootful, whose jailbreak's files are where the system
// names them, and rootless (iOS 15 and later), whose jailbreak's files are all under /var/jb.
// A device's kind is fixed when it is laid out; its packages are built for it, and a package
// of the other kind is refused.
#pragma once

#include "platform/Expected.h"
#include "platform/foundation/CoreFoundation.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Device {

enum class Scheme { rootful, rootless };

struct SchemeFacts {
    const char* name; // as the command line and the messages say it
    std::string_view jailbreakRoot; // "" or "/var/jb"
    const char* defaultSystem; // the iOS a new device runs
    std::optional<Platform::SystemVersion> earliestSystem; // the earliest its jailbreaks run
};
const SchemeFacts& facts(Scheme);

// The kind of the device at hostRoot (rootless when it has the jailbreak's /var/jb).
Scheme schemeOf(const std::string& hostRoot);

// The device path of a file the jailbreak or a package installs, as the scheme places it:
// "/usr/bin/killall" on a rootful device, "/var/jb/usr/bin/killall" on a rootless one.
std::string jailbreakPath(Scheme, std::string_view devicePath);

// Whether a device of the scheme runs that iOS; why not, in one line.
Platform::Expected<void> runsSystem(Scheme, const Platform::SystemVersion&);

// Whether a package holding these paths (as dpkg-deb lists them: "./Library/...", folders with
// a trailing slash) is for a device of the scheme; why not, in one line. A
// rootless package keeps everything under /var/jb; a rootful one nothing there. Folders on the
// way to /var/jb belong to both, so a package of folders alone fits either.
Platform::Expected<void> packageFitsScheme(Scheme device, const std::vector<std::string>& paths);

} // namespace Device
