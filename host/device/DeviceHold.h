// One SpringBoard per device: the process that boots a device holds it until it
// ends. The hold is a kernel lock on a file in the device, so a process that dies,
// however it dies, never leaves its device held.
#pragma once

#include "platform/Expected.h"

#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace Device {

class DeviceHold {
public:
    ~DeviceHold();
    DeviceHold(const DeviceHold&) = delete;
    DeviceHold& operator=(const DeviceHold&) = delete;

    // Takes the device at hostRoot for this process, without waiting. A device held by
    // another process is left exactly as it is, and the failure is the line a refused command
    // prints ("the device at DIR is in use by process PID ...").
    static Platform::Expected<std::unique_ptr<DeviceHold>> take(const std::string& hostRoot);

    // The process holding the device, if one does (0 when its pid cannot be read).
    static std::optional<pid_t> holder(const std::string& hostRoot);

private:
    explicit DeviceHold(int fd)
        : m_fd(fd)
    {
    }
    int m_fd;
};

} // namespace Device
