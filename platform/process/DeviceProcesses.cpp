#include "platform/process/DeviceProcesses.h"

#include "platform/fs/ExecutablePath.h"

#include <algorithm>
#include <dirent.h>
#include <unistd.h>

namespace Platform {

namespace {

bool isPid(std::string_view name)
{
    return !name.empty() && name.size() <= 10
        && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

std::vector<DeviceProcess> processesOfDevice(std::string_view hostRoot)
{
    std::vector<DeviceProcess> found;
    std::string prefix(hostRoot);
    while (prefix.ends_with('/'))
        prefix.pop_back();
    prefix += '/';
    DIR* processes = ::opendir("/proc");
    if (!processes)
        return found;
    std::string self = std::to_string(::getpid());
    while (dirent* entry = ::readdir(processes)) {
        std::string_view pidText = entry->d_name;
        if (!isPid(pidText) || pidText == self)
            continue;
        auto executable = executablePathOfProcess(pidText);
        if (executable && executable->starts_with(prefix))
            found.push_back({ static_cast<pid_t>(std::stol(std::string(pidText))), std::move(*executable) });
    }
    ::closedir(processes);
    return found;
}

bool isRunningOnDevice(std::string_view hostRoot, std::string_view devicePath)
{
    std::string root(hostRoot);
    while (root.ends_with('/'))
        root.pop_back();
    std::string executable = root + std::string(devicePath);
    auto processes = processesOfDevice(root);
    return std::any_of(
        processes.begin(), processes.end(), [&](auto& process) { return process.executable == executable; });
}

} // namespace Platform
