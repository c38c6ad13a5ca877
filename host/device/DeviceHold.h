// One SpringBoard per device: the process that boots a device holds it until it
// ends. The hold is a kernel lock on a file in the device, so a process that dies,
// however it dies, never leaves its device held.
#pragma once

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

    struct Result {
        std::unique_ptr<DeviceHold> hold; // set when this process now holds the device
        std::optional<pid_t> holder; // otherwise: the holding process, when it could be read
        std::string error; // otherwise: why the device could not be held
    };
    // Takes the device at hostRoot for this process, without waiting. A device held by
    // another process is left exactly as it is.
    static Result take(const std::string& hostRoot);

    // The process holding the device, if one does (0 when its pid cannot be read).
    static std::optional<pid_t> holder(const std::string& hostRoot);

    // "the device at DIR is in use by process PID": the line a refused command prints.
    static std::string refusal(const std::string& hostRoot, const Result&);

private:
    explicit DeviceHold(int fd)
        : m_fd(fd)
    {
    }
    int m_fd;
};

} // namespace Device
