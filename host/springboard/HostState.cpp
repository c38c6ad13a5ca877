#include "host/springboard/HostState.h"

#include "platform/foundation/FoundationValue.h"
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

id HostState::passcodeObject(const std::string& text)
{
    if (id string = Platform::makeString(text))
        return string;
    // Latin-1 takes any bytes: the object is distinct, and the table keeps what it stands for.
    static SEL const alloc = ObjC::sel("alloc");
    static SEL const initWithBytes = ObjC::sel("initWithBytes:length:encoding:");
    constexpr unsigned latin1Encoding = 5; // NSISOLatin1StringEncoding
    ObjC::RetainPtr object = ObjC::adopt(ObjC::send<id>(ObjC::send<id>(ObjC::getClass("NSString"), alloc), initWithBytes,
        static_cast<const void*>(text.data()), static_cast<unsigned long>(text.size()), latin1Encoding));
    passcodeBytes.emplace_back(object, text);
    return object;
}

std::optional<std::string> HostState::passcodeText(id passcode) const
{
    for (auto& [object, bytes] : passcodeBytes) {
        if (object.get() == passcode)
            return bytes;
    }
    return Platform::stringValue(passcode);
}

void HostState::setDeviceLocked(bool locked)
{
    if (locked)
        biometricAuthenticated = false;
    if (deviceLocked == locked)
        return;
    deviceLocked = locked;
    hostEvent(Driver::Facts::device.line(locked));
}

void HostState::setUILocked(bool locked)
{
    if (uiLocked == locked)
        return;
    uiLocked = locked;
    hostEvent(Driver::Facts::lockscreen.line(locked));
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

} // namespace SpringBoardHost
