// dpkg's command lines for one device: the device is dpkg's root and holds its database, and
// maintainer scripts run without chroot, finding the device in DPKG_ROOT.
#pragma once

#include "host/device/DeviceScheme.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace Device {

namespace Programs {
inline constexpr const char* dpkg = "/usr/bin/dpkg";
inline constexpr const char* dpkgDeb = "/usr/bin/dpkg-deb";
inline constexpr const char* dpkgQuery = "/usr/bin/dpkg-query";
} // namespace Programs

class Dpkg {
public:
    Dpkg(std::string root, Scheme);

    const std::string& root() const { return m_root; }
    // The database's folder: var/lib/dpkg under the jailbreak's root.
    const std::string& adminDirectory() const { return m_adminDirectory; }

    // dpkg with the arguments; an unlogged run (a check that changes nothing) writes no log.
    std::vector<std::string> command(std::initializer_list<std::string> arguments, bool logged = true) const;

private:
    std::string m_root;
    std::string m_adminDirectory;
    std::string m_log;
};

} // namespace Device
