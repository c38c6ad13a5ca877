#include "host/springboard/HostState.h"

#include "platform/trace/Timeline.h"

#include <mutex>
#include <utility>

namespace SpringBoardHost {

NotificationRoute defaultNotificationRoute(int iosMajor)
{
    return iosMajor >= 14 ? NotificationRoute::Structured : NotificationRoute::Priority;
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

namespace {

std::mutex s_sinkLock;
std::function<void(const Driver::Event&)>& hostEventSink()
{
    static auto* sink = new std::function<void(const Driver::Event&)>;
    return *sink;
}

} // namespace

void hostEvent(std::string_view text) { Platform::timeline(text); }

void hostEvent(const Driver::Event& event)
{
    std::function<void(const Driver::Event&)> sink;
    {
        std::lock_guard guard(s_sinkLock);
        sink = hostEventSink();
    }
    if (sink)
        sink(event);
    else
        Platform::timeline(Driver::timelineText(event));
}

void setHostEventSink(std::function<void(const Driver::Event&)> sink)
{
    std::lock_guard guard(s_sinkLock);
    hostEventSink() = std::move(sink);
}

const char* yesNo(bool value) { return value ? "yes" : "no"; }

} // namespace SpringBoardHost
