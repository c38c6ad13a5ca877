#include "platform/fs/ExecutablePath.h"

#include <unistd.h>
#include <vector>

namespace Platform {

std::optional<std::string> executablePathOfProcess(std::string_view pid)
{
    std::string link = "/proc/" + std::string(pid) + "/exe";
    constexpr size_t maximumLength = 1 << 20;
    for (size_t capacity = 256; capacity <= maximumLength; capacity *= 2) {
        std::vector<char> buffer(capacity);
        ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
        if (length < 0)
            return std::nullopt;
        if (static_cast<size_t>(length) < buffer.size()) {
            std::string path(buffer.data(), static_cast<size_t>(length));
            constexpr std::string_view deletedSuffix = " (deleted)";
            if (path.ends_with(deletedSuffix))
                path.resize(path.size() - deletedSuffix.size());
            return path;
        }
        // Possibly truncated: try again with more room.
    }
    return std::nullopt;
}

std::string executablePath() { return executablePathOfProcess("self").value_or(""); }

std::optional<std::string> deviceRootOfExecutable(
    std::string_view hostExecutablePath, std::string_view deviceExecutablePath)
{
    while (deviceExecutablePath.starts_with('/'))
        deviceExecutablePath.remove_prefix(1);
    if (deviceExecutablePath.empty() || hostExecutablePath.size() <= deviceExecutablePath.size())
        return std::nullopt;
    if (!hostExecutablePath.ends_with(deviceExecutablePath))
        return std::nullopt;
    auto prefix = hostExecutablePath.substr(0, hostExecutablePath.size() - deviceExecutablePath.size());
    // The match must start a component: ".../xSpringBoard" is not ".../SpringBoard".
    if (!prefix.ends_with('/'))
        return std::nullopt;
    while (prefix.ends_with('/'))
        prefix.remove_suffix(1);
    if (prefix.empty())
        return std::nullopt;
    return std::string(prefix);
}

} // namespace Platform
