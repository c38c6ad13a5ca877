#include "host/springboard/HostState.h"

#include "platform/trace/Timeline.h"

#include <utility>

namespace SpringBoardHost {

NotificationRoute defaultNotificationRoute(int iosMajor)
{
    return iosMajor >= 14 ? NotificationRoute::Structured : NotificationRoute::Priority;
}

const char* notificationRouteName(NotificationRoute route)
{
    switch (route) {
    case NotificationRoute::Priority:
        return "priority";
    case NotificationRoute::Structured:
        return "structured";
    case NotificationRoute::None:
        return "none";
    }
    return "none";
}

HostState& HostState::shared()
{
    static auto* state = new HostState;
    return *state;
}

void HostState::setDeviceLocked(bool locked)
{
    if (locked)
        biometricAuthenticated = false;
    if (deviceLocked == locked)
        return;
    deviceLocked = locked;
    hostEvent(locked ? "device locked" : "device unlocked");
}

void HostState::setUILocked(bool locked)
{
    if (uiLocked == locked)
        return;
    uiLocked = locked;
    hostEvent(locked ? "lockscreen shown" : "lockscreen dismissed");
}

void HostState::resetForTesting()
{
    // The objects let go here may report their end on the timeline while this runs.
    HostState fresh;
    std::swap(*this, fresh);
}

void hostEvent(std::string_view text) { Platform::timeline(text); }

const char* yesNo(bool value) { return value ? "yes" : "no"; }

} // namespace SpringBoardHost
