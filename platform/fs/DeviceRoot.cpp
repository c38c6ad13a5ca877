#include "platform/fs/DeviceRoot.h"

#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

namespace Platform {

namespace {

struct DeviceRootState {
    std::mutex lock;
    std::optional<std::string> root;
};

DeviceRootState& deviceRootState()
{
    static auto* state = new DeviceRootState;
    return *state;
}

} // namespace

void setDeviceRoot(std::string hostPath)
{
    if (hostPath.empty())
        throw std::logic_error("setDeviceRoot: the device root must not be empty");
    std::filesystem::path requested(std::move(hostPath));
    std::error_code error;
    auto absolute = std::filesystem::absolute(requested, error);
    if (error)
        throw std::logic_error("setDeviceRoot: cannot make '" + requested.string() + "' absolute: " + error.message());
    std::string normalised = absolute.lexically_normal().string();
    while (normalised.size() > 1 && normalised.back() == '/')
        normalised.pop_back();
    if (normalised == "/")
        throw std::logic_error("setDeviceRoot: the machine's own root cannot be a device root");

    auto& state = deviceRootState();
    std::lock_guard guard(state.lock);
    state.root = std::move(normalised);
}

void clearDeviceRoot()
{
    auto& state = deviceRootState();
    std::lock_guard guard(state.lock);
    state.root.reset();
}

std::optional<std::string> deviceRoot()
{
    auto& state = deviceRootState();
    std::lock_guard guard(state.lock);
    return state.root;
}

// Absolute, with no empty, "." or ".." component and no trailing slash.
static bool isClean(std::string_view path)
{
    if (path.size() < 2 || path.front() != '/' || path.back() == '/')
        return false;
    for (size_t slash = 0; slash != std::string_view::npos; slash = path.find('/', slash + 1)) {
        auto rest = path.substr(slash + 1);
        if (rest.empty() || rest.front() == '/' || rest == "." || rest.starts_with("./") || rest == ".." || rest.starts_with("../"))
            return false;
    }
    return true;
}

std::string resolve(std::string_view devicePath)
{
    auto root = deviceRoot();
    if (!root)
        throw std::logic_error("resolve(\"" + std::string(devicePath.substr(0, devicePath.find('\0')))
            + "\"): no device root is set, and device paths are never resolved on the machine itself");

    if (auto end = devicePath.find('\0'); end != std::string_view::npos)
        devicePath = devicePath.substr(0, end);

    // The paths the system uses are already clean: they need no normalising.
    if (isClean(devicePath)) {
        std::string result = std::move(*root);
        result += devicePath;
        return result;
    }

    std::vector<std::string_view> components;
    size_t position = 0;
    while (position <= devicePath.size()) {
        size_t slash = devicePath.find('/', position);
        if (slash == std::string_view::npos)
            slash = devicePath.size();
        auto component = devicePath.substr(position, slash - position);
        if (component == "..") {
            if (!components.empty())
                components.pop_back();
        } else if (!component.empty() && component != ".")
            components.push_back(component);
        position = slash + 1;
    }

    std::string result = std::move(*root);
    for (auto component : components) {
        result += '/';
        result += component;
    }
    return result;
}

bool fileExists(std::string_view devicePath)
{
    struct stat status;
    return ::stat(resolve(devicePath).c_str(), &status) == 0;
}

} // namespace Platform
