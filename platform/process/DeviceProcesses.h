// The live processes that belong to a device: those whose executable lies under the device's
// root. The device's killall picks its targets from them; kestrel tells a running device by them.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace Platform {

struct DeviceProcess {
    pid_t pid;
    std::string executable; // host path
};

// Every live process other than this one whose executable lies under hostRoot (an absolute
// host path; "/tmp/dev2/..." does not lie under "/tmp/dev"). Empty when /proc cannot be read.
std::vector<DeviceProcess> processesOfDevice(std::string_view hostRoot);

// Whether some process of the device runs the program at devicePath.
bool isRunningOnDevice(std::string_view hostRoot, std::string_view devicePath);

} // namespace Platform
