#include "host/device/Dpkg.h"

#include "host/device/DeviceLayout.h"

namespace Device {

Dpkg::Dpkg(std::string root, Scheme scheme)
    : m_root(std::move(root))
    , m_adminDirectory(m_root + jailbreakPath(scheme, JailbreakPaths::packageDatabase))
    , m_log(m_root + jailbreakPath(scheme, JailbreakPaths::logs) + "/dpkg.log")
{
}

std::vector<std::string> Dpkg::command(std::initializer_list<std::string> arguments, bool logged) const
{
    std::vector<std::string> command {
        Programs::dpkg,
        "--root=" + m_root,
        "--admindir=" + m_adminDirectory,
        "--log=" + (logged ? m_log : std::string("/dev/null")),
        // Run as root or not, dpkg acts on the device alone: no chroot, and ownership it
        // cannot set is no error.
        "--force-not-root",
        "--force-script-chrootless",
        // Nobody answers questions about changed configuration files: keep the device's.
        "--force-confdef",
        "--force-confold",
    };
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

} // namespace Device
