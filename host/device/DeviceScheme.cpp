#include "host/device/DeviceScheme.h"

#include "platform/fs/JailbreakRoot.h"

namespace Device {

namespace {

Platform::SystemVersion parsed(const char* text)
{
    Platform::SystemVersion version;
    Platform::parseSystemVersion(text, version);
    return version;
}

// A path as dpkg-deb lists it, as a device path: "./var/jb/" is "/var/jb".
std::string devicePathOf(std::string_view listed)
{
    if (listed.starts_with("."))
        listed.remove_prefix(1);
    while (listed.size() > 1 && listed.ends_with('/'))
        listed.remove_suffix(1);
    return listed.empty() ? std::string("/") : std::string(listed);
}

} // namespace

const SchemeFacts& facts(Scheme scheme)
{
    // The rootless root and its first system come from the build's package schemes.
    static const SchemeFacts rootful { "rootful", "", "14.0", std::nullopt };
    static const SchemeFacts rootless { "rootless", Platform::rootlessJailbreakRoot(), KESTREL_ROOTLESS_FIRST_SYSTEM,
        parsed(KESTREL_ROOTLESS_FIRST_SYSTEM) };
    return scheme == Scheme::rootless ? rootless : rootful;
}

Scheme schemeOf(const std::string& hostRoot)
{
    return Platform::jailbreakRootOf(hostRoot).empty() ? Scheme::rootful : Scheme::rootless;
}

std::string jailbreakPath(Scheme scheme, std::string_view devicePath)
{
    return std::string(facts(scheme).jailbreakRoot) + std::string(devicePath);
}

Platform::Expected<void> runsSystem(Scheme scheme, const Platform::SystemVersion& version)
{
    auto& earliest = facts(scheme).earliestSystem;
    if (!earliest || version >= *earliest)
        return {};
    return Platform::Failure { "a " + std::string(facts(scheme).name) + " device runs iOS "
        + Platform::systemVersionString(*earliest) + " and later, not " + Platform::systemVersionString(version) };
}

Platform::Expected<void> packageFitsScheme(Scheme device, const std::vector<std::string>& paths)
{
    std::string root(facts(Scheme::rootless).jailbreakRoot);
    // The first file out of place, or failing one the first folder: what the line names.
    std::optional<std::string> file, folder;
    for (auto& listed : paths) {
        std::string path = devicePathOf(listed);
        bool onTheWay = path == "/" || (root.starts_with(path) && root[path.size()] == '/');
        bool inside = path == root || path.starts_with(root + "/");
        if (onTheWay || inside == (device == Scheme::rootless))
            continue;
        auto& first = listed.ends_with('/') ? folder : file;
        if (!first)
            first = path;
    }
    if (!file && !folder)
        return {};
    auto other = device == Scheme::rootless ? Scheme::rootful : Scheme::rootless;
    return Platform::Failure { "it is built for " + std::string(facts(other).name) + " jailbreaks ("
        + file.value_or(*folder) + " is " + (device == Scheme::rootless ? "outside " : "under ") + root
        + "), and the device is " + facts(device).name };
}

} // namespace Device
