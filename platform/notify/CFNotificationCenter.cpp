#include "platform/notify/CFNotificationCenter.h"

#include "platform/notify/Notify.h"

// The Darwin center is the only one there is; its address is its identity.
struct NotifyCenter { };

namespace {

NotifyCenter darwinNotifyCenter;

} // namespace

CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter() { return &darwinNotifyCenter; }

void CFNotificationCenterAddObserver(CFNotificationCenterRef center, const void* observer,
    CFNotificationCallback callback, std::string_view name, const void*, CFNotificationSuspensionBehavior)
{
    if (center != &darwinNotifyCenter || !callback)
        return;
    Platform::addNotifyObserver(name, [center, observer, callback](std::string_view postedName) {
        callback(center, const_cast<void*>(observer), postedName, nullptr, nullptr);
    });
}

void CFNotificationCenterPostNotification(
    CFNotificationCenterRef center, std::string_view name, const void*, const void*, bool)
{
    if (center != &darwinNotifyCenter)
        return;
    Platform::postNotification(name);
}
