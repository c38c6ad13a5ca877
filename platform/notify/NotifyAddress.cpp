#include "platform/notify/NotifyAddress.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/time.h>
#include <unistd.h>

namespace Platform {

namespace {

// FNV-1a: stable across builds and processes, which std::hash does not promise.
uint64_t stableHash(std::string_view text)
{
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char character : text) {
        hash ^= character;
        hash *= 1099511628211ull;
    }
    return hash;
}

} // namespace

std::optional<std::string> canonicalDeviceRoot(const std::string& root)
{
    char* resolved = ::realpath(root.c_str(), nullptr);
    if (!resolved)
        return std::nullopt;
    std::string result(resolved);
    ::free(resolved);
    return result;
}

NotifyAddress notifyEndpointAddress(std::string_view canonicalRoot, pid_t pid)
{
    // Two hashes with different seeds make a 128-bit device tag, so distinct devices on one
    // machine never meet by accident.
    char name[80];
    int length = std::snprintf(name, sizeof(name), "kestrel-notify/%016llx%016llx/%d",
        static_cast<unsigned long long>(stableHash(canonicalRoot)),
        static_cast<unsigned long long>(stableHash(std::string("kestrel\n") + std::string(canonicalRoot))),
        static_cast<int>(pid));

    NotifyAddress result;
    result.address.sun_family = AF_UNIX;
    // sun_path[0] stays 0: the abstract namespace.
    std::memcpy(result.address.sun_path + 1, name, static_cast<size_t>(length));
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<size_t>(length));
    return result;
}

pid_t pidFromRegistrationName(std::string_view name)
{
    if (name.empty() || name.size() > 9 || name.front() == '0')
        return 0;
    long value = 0;
    for (char character : name) {
        if (character < '0' || character > '9')
            return 0;
        value = value * 10 + (character - '0');
    }
    return value <= INT_MAX ? static_cast<pid_t>(value) : 0;
}

int connectNotifySender(const NotifyAddress& address)
{
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    timeval timeout { notifySendTimeoutMilliseconds / 1000, (notifySendTimeoutMilliseconds % 1000) * 1000 };
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    int result;
    do
        result = ::connect(fd, address.socketAddress(), address.length);
    while (result < 0 && errno == EINTR);
    if (result < 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace Platform
