#include "platform/fs/JailbreakRoot.h"

#include "platform/fs/DeviceRoot.h"

#include <sys/stat.h>

namespace Platform {

// The build's package schemes give the folder (cmake/JailbreakScheme.cmake).
std::string_view rootlessJailbreakRoot() { return KESTREL_ROOTLESS_JAILBREAK_ROOT; }

namespace {

std::string_view jailbreakRootAt(const std::string& hostPath)
{
    struct stat info;
    return ::stat(hostPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? rootlessJailbreakRoot() : std::string_view();
}

} // namespace

std::string_view jailbreakRootOf(const std::string& hostRoot)
{
    return jailbreakRootAt(hostRoot + std::string(rootlessJailbreakRoot()));
}

std::string_view jailbreakRoot() { return jailbreakRootAt(resolve(rootlessJailbreakRoot())); }

} // namespace Platform
