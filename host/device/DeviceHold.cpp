#include "host/device/DeviceHold.h"

#include "host/device/DeviceLayout.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace Device {

namespace {

std::string holdPath(const std::string& hostRoot) { return hostRoot + Paths::run + "/device.hold"; }

// The holder writes its pid just after taking the lock: give it a moment to land.
std::optional<pid_t> readHolder(int fd)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        char text[32];
        ssize_t length = ::pread(fd, text, sizeof(text) - 1, 0);
        pid_t pid = 0;
        if (length > 0) {
            auto [end, error] = std::from_chars(text, text + length, pid);
            if (error == std::errc() && pid > 0)
                return pid;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return std::nullopt;
}

} // namespace

DeviceHold::~DeviceHold()
{
    // Emptied first, so nobody reads a stale pid from a file no one holds.
    if (::ftruncate(m_fd, 0) != 0) { }
    ::close(m_fd);
}

Platform::Expected<std::unique_ptr<DeviceHold>> DeviceHold::take(const std::string& hostRoot)
{
    auto refused
        = [&](const std::string& why) { return Platform::Failure { "the device at " + hostRoot + ": " + why }; };
    std::string path = holdPath(hostRoot);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return refused("cannot open " + path + ": " + std::strerror(errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        auto holder = error == EWOULDBLOCK ? readHolder(fd) : std::nullopt;
        ::close(fd);
        if (holder)
            return Platform::Failure { "the device at " + hostRoot + " is in use by process " + std::to_string(*holder)
                + " (a device runs one SpringBoard at a time)" };
        if (error == EWOULDBLOCK)
            return refused("the device is in use by another process");
        return refused("cannot lock " + path + ": " + std::strerror(error));
    }
    std::string pid = std::to_string(::getpid());
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != ssize_t(pid.size())) { }
    return std::unique_ptr<DeviceHold>(new DeviceHold(fd));
}

std::optional<pid_t> DeviceHold::holder(const std::string& hostRoot)
{
    int fd = ::open(holdPath(hostRoot).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    std::optional<pid_t> pid;
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        pid = readHolder(fd).value_or(0);
    ::close(fd);
    return pid;
}

} // namespace Device
