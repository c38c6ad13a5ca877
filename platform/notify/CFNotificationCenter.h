// The CoreFoundation calls for the Darwin notify center, as the system makes them. They sit
// on Platform's notifications (Notify.h), whose rules they follow.
#pragma once

#include <string_view>

using CFNotificationCenterRef = struct NotifyCenter*;

using CFNotificationCallback = void (*)(
    CFNotificationCenterRef center, void* observer, std::string_view name, const void* object, const void* userInfo);

// Processes of a simulated device are never suspended, so every behaviour delivers at once.
enum CFNotificationSuspensionBehavior {
    CFNotificationSuspensionBehaviorDrop = 1,
    CFNotificationSuspensionBehaviorCoalesce = 2,
    CFNotificationSuspensionBehaviorHold = 3,
    CFNotificationSuspensionBehaviorDeliverImmediately = 4
};

CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter();

// callback receives the given observer pointer, the name, and null object and user info,
// whatever the poster passed. The object given here is ignored, as the Darwin center does.
// A call with a null callback or any other center does nothing.
void CFNotificationCenterAddObserver(CFNotificationCenterRef, const void* observer, CFNotificationCallback,
    std::string_view name, const void* object, CFNotificationSuspensionBehavior);

// object, userInfo and deliverImmediately are not carried: the Darwin center delivers names
// only. A call on any other center does nothing.
void CFNotificationCenterPostNotification(
    CFNotificationCenterRef, std::string_view name, const void* object, const void* userInfo, bool deliverImmediately);
