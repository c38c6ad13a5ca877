// Notifications by name between the processes of one device: the stand-in for the Darwin
// notify center. Delivery is real inter-process communication, scoped by the device root.
#pragma once

#include "platform/notify/NotifyMessage.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace Platform {

using NotifyObserver = std::function<void(std::string_view name)>;

// Calls observer once for every post of exactly this name (byte for byte) made by any
// process of the device that runs as this process's user, this one included, that is delivered after this call returns (a
// post made before the call may still reach it if it was not delivered yet).
// Callbacks run on the process's notify delivery thread, never the main thread, one at a
// time, in the order the posts were received; an exception escaping one ends the process, as
// an uncaught exception would on the device. Observers are never removed. Each call is one
// registration: an observer added twice is called twice. Thread-safe. Requires a device root
// (std::logic_error otherwise).
// The endpoint drops what other users' processes send and every malformed datagram, and counts
// both in the system log, one line a second at most.
void addNotifyObserver(std::string_view name, NotifyObserver);

// Like an observer of every name posted on the device. Monitors run after the observers.
// The id removes it again.
using NotifyMonitorId = uint64_t;
NotifyMonitorId addNotifyMonitor(NotifyObserver);
// Once this returns the monitor is never called again; a callback running when it is
// called is waited for (unless the caller is that callback).
void removeNotifyMonitor(NotifyMonitorId);

// Removes the registrations that processes of the device left when they died without
// removing their own (killed with signal 9, say): those of pids no process has now.
void removeDeadNotifyRegistrations(const std::string& deviceRoot);

// Delivers name once to every observer of it on the device; posts are never coalesced.
// Returns at once, without waiting for any callback; blocks only while a receiver's queue is
// full (a few seconds at most for a receiver that is stuck). Emits the timeline event
// "post NAME". A name that isValidNotificationName refuses (empty, longer than
// maximumNotificationNameLength, not strict UTF-8, or holding a NUL) is refused: false, and
// nothing is posted. Thread-safe, also from inside a callback. Requires a device
// root (std::logic_error otherwise).
bool postNotification(std::string_view name);

// Returns once every post that had reached this process before the call has been delivered
// (or after 5 s at the latest). Returns at once in a process that observes nothing, and when
// called from a callback, where waiting would wait on itself.
void drainNotifyDeliveries();

} // namespace Platform
