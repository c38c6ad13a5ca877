// How the processes of one device find each other for notifications: every process that
// observes owns a datagram socket in the abstract namespace, named from the device and its
// pid, and announces it with a registration file <root>/var/run/notify/<pid>.
#pragma once

#include "platform/notify/NotifyMessage.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

namespace Platform {

constexpr std::string_view notifyRegistryDevicePath = "/var/run/notify";

struct NotifyAddress {
    sockaddr_un address {};
    socklen_t length { 0 };

    const sockaddr* socketAddress() const { return reinterpret_cast<const sockaddr*>(&address); }
};

// The device root with symlinks resolved, so that every process of a device names endpoints
// alike however it reached the root. nullopt if it cannot be resolved (it does not exist).
std::optional<std::string> canonicalDeviceRoot(const std::string& root);

// The endpoint of process pid on the device whose canonical root is given. Abstract names
// vanish with the last socket bound to them, and paths under a device root could exceed the
// 108 bytes a socket path may have.
NotifyAddress notifyEndpointAddress(std::string_view canonicalRoot, pid_t);

// Parses a registration file name: a positive pid in plain decimal, or 0 for anything else.
pid_t pidFromRegistrationName(std::string_view);

// Blocks for at most this long when a receiver's queue is full.
constexpr int notifySendTimeoutMilliseconds = 2000;

// A datagram socket that sends to address with the blocking timeout above; -1 and errno set
// when nothing is bound there.
int connectNotifySender(const NotifyAddress&);

} // namespace Platform
