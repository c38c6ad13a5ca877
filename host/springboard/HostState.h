// The simulated device's state as SpringBoard sees it: the lock, the lock
// screen, other audio, the flashlight, the waiting notifications, and what the
// scenario has arranged for the next biometric match. One per process.
#pragma once

#include "host/device/DriverProtocol.h"
#include "host/device/TimelineNotes.h"
#include "platform/foundation/CoreFoundation.h"
#include "runtime/ObjC.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace SpringBoardHost {

using Driver::NotificationRoute;

struct HostProfile {
    Platform::SystemVersion iosVersion { 14, 0, 0 };
    double coreFoundationVersion { 1740.00 };
    NotificationRoute notificationRoute { NotificationRoute::Structured };
};

// The route a release offers: the priority list until iOS 14, the structured list from then on.
NotificationRoute defaultNotificationRoute(int iosMajor);

using Driver::MatchOutcome;

struct HostState {
    static HostState& shared();

    // The device's passcode; any other passcode is wrong.
    static constexpr const char* passcode = "1234";

    bool deviceLocked { true };
    bool uiLocked { true };
    // The biometric resource's authentication: held from a successful match until the
    // device locks or _setAuthenticated: NO. A biometric unlock attempt needs it.
    bool biometricAuthenticated { false };
    bool otherAudioPlaying { false };
    bool launched { false };
    int64_t flashlightLevel { 0 };
    // Waiting notifications by section identifier (nullopt: a request without one).
    std::vector<std::optional<std::string>> notifications;
    // What the host's own unlock attempt answers; YES unless the scenario says otherwise.
    bool attemptResult { true };
    // What the matches the resource starts by itself come to, in order (a match or a failure).
    std::deque<MatchOutcome> queuedMatches;
    int nextNotificationListId { 1 };

    // The objects SpringBoard made at launch (and keeps).
    ObjC::RetainPtr application;
    ObjC::RetainPtr lockScreenManager;
    ObjC::RetainPtr biometricResource;
    ObjC::RetainPtr coverSheetWindow;
    ObjC::RetainPtr quickActionsController;
    ObjC::RetainPtr notificationListController;
    ObjC::RetainPtr audioSession;
    ObjC::RetainPtr companionWindow;

    // Passcodes the driver typed that are not UTF-8, which no NSString holds: each attempt's
    // passcode object stands for its bytes (kept for the life of the process).
    std::vector<std::pair<ObjC::RetainPtr, std::string>> passcodeBytes;
    // A passcode object for text the driver typed, any bytes.
    id passcodeObject(const std::string& text);
    // The text a passcode object stands for; none for nil or an object that is no text.
    std::optional<std::string> passcodeText(id passcode) const;

    // Locking also ends the biometric authentication.
    void setDeviceLocked(bool);
    void setUILocked(bool);

    // Back to a freshly booted device: locked, nothing waiting, no objects kept.
    void resetForTesting();
};

// One line on the timeline, e.g. "launch finished".
void hostEvent(std::string_view text);
// An event the driver's checks look at (an unlock attempt, a biometric call). It goes
// to the host event sink when there is one, else onto the timeline as its text.
void hostEvent(const Driver::Event&);
// Replaces the host event sink (an empty function removes it).
void setHostEventSink(std::function<void(const Driver::Event&)>);

} // namespace SpringBoardHost
