#include "host/springboard/HostCommands.h"

#include "host/springboard/SpringBoardClasses.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/foundation/CoreFoundation.h"
#include "platform/notify/CFNotificationCenter.h"

using namespace Runtime;

namespace SpringBoardHost {

namespace {

Class* notificationListClass()
{
    return getClass(classNamesFor(Platform::systemVersion().major).notificationListController);
}

const Selector s_attemptUnlock = sel("_attemptUnlockWithPasscode:mesa:finishUIUnlock:completion:");

void sendCompanionEvent(Object* window, Driver::AodAction action, Object* recognizer)
{
    switch (action) {
    case Driver::AodAction::Tap:
        send(window, "handleTapFrom:", recognizer);
        break;
    case Driver::AodAction::DoubleTap:
        send(window, "handleDoubleTapFrom:", recognizer);
        break;
    case Driver::AodAction::Hide:
        send(window, "hide");
        break;
    case Driver::AodAction::PostHide:
        send(window, "postHideSettings");
        break;
    }
}

void companionEvent(Driver::AodAction action)
{
    auto& state = HostState::shared();
    if (!state.companionWindow) {
        hostEvent("aod " + std::string(Driver::name(action)) + " companion=absent");
        return;
    }
    auto recognizer = allocInit(NSObject::runtimeClass());
    // A companion of another build may declare these methods otherwise: the system's gesture
    // then reaches nothing, and SpringBoard stays up.
    try {
        sendCompanionEvent(state.companionWindow.get(), action, recognizer.get());
    } catch (const SignatureMismatch&) {
        hostEvent("aod " + std::string(Driver::name(action)) + " companion=misfit");
    }
}

// Each request, carried out; what is not a device action answers with a reply of its own.
struct Performer {
    HostState& state;

    Driver::Reply operator()(const Driver::FaceMatch&)
    {
        state.biometricAuthenticated = true;
        send<bool>(state.lockScreenManager, s_attemptUnlock, nullptr, true, false, NSBlock::create(nullptr).ptr());
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::FaceFail&)
    {
        send(state.biometricResource, "_notifyObserversOfEvent:", int64_t(10));
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::FaceEvent& command)
    {
        send(state.biometricResource, "_notifyObserversOfEvent:", command.event);
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::FaceNext& command)
    {
        state.queuedMatches.push_back(command.match ? MatchOutcome::Match : MatchOutcome::Fail);
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::Attempt& command)
    {
        RefPtr<Object> passcode;
        if (command.passcode)
            passcode = NSString::create(*command.passcode);
        // The system sends a biometric attempt only after a match: the resource holds one.
        if (command.mesa)
            state.biometricAuthenticated = true;
        send<bool>(state.lockScreenManager, s_attemptUnlock, passcode.get(), command.mesa, command.finish,
            NSBlock::create(nullptr).ptr());
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::Touch&)
    {
        auto event = allocInit(NSObject::runtimeClass());
        send<RefPtr<Object>>(state.coverSheetWindow, "hitTest:withEvent:", CGPoint { 187, 400 }, event.get());
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::Aod& command)
    {
        companionEvent(command.action);
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::QuickActionsAppear&)
    {
        send(state.quickActionsController, "viewWillAppear:", true);
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::Flashlight& command)
    {
        send(state.quickActionsController, "flashlightLevelDidChange:", command.level);
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::Audio& command)
    {
        state.otherAudioPlaying = command.playing;
        hostEvent(command.playing ? "audio playing" : "audio stopped");
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::NotificationAdd& command)
    {
        state.notifications.push_back(command.section);
        hostEvent("notification added section=" + command.section.value_or("nil"));
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::NotificationClear&)
    {
        state.notifications.clear();
        hostEvent("notifications cleared");
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::NotificationNewController&)
    {
        // The new controller takes the old one's place; SpringBoard lets the old one go.
        state.notificationListController = allocInit(notificationListClass());
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::HostAttemptResult& command)
    {
        state.attemptResult = command.result;
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::HostUILocked& command)
    {
        state.setUILocked(command.locked);
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::Lock&)
    {
        state.setDeviceLocked(true);
        state.setUILocked(true);
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::FinishLaunching&)
    {
        finishLaunching();
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::Advance& command)
    {
        if (command.nanoseconds < 0)
            return Driver::Refused { "time does not go backwards" };
        Platform::mainQueue().advanceBy(command.nanoseconds);
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::QueryState&) { return deviceState(); }
    Driver::Reply operator()(const Driver::DrainNotify&)
    {
        // Answered where SpringBoard's main loop knows what it spawned.
        return Driver::Refused { "drain-notify is answered by the main loop" };
    }
};

} // namespace

void createLockScreenObjects()
{
    auto& state = HostState::shared();
    ClassNames names = classNamesFor(Platform::systemVersion().major);
    state.application = allocInit(getClass("SpringBoard"));
    state.lockScreenManager = send<RefPtr<Object>>(getClass("SBLockScreenManager"), "sharedInstance");
    state.biometricResource = allocInit(getClass("SBUIBiometricResource"));
    state.coverSheetWindow = allocInit(getClass("SBCoverSheetWindow"));
    state.quickActionsController = allocInit(getClass(names.quickActionsController));
    state.notificationListController = allocInit(getClass(names.notificationListController));
    state.audioSession = send<RefPtr<Object>>(getClass("AVAudioSession"), "sharedInstance");
    if (Class* window = getClass("PloverAlwaysOnWindow"))
        state.companionWindow = allocInit(window);
}

void finishLaunching()
{
    auto& state = HostState::shared();
    send(state.application, "applicationDidFinishLaunching:", state.application.get());
}

Driver::DeviceState deviceState()
{
    auto& state = HostState::shared();
    Driver::DeviceState reported;
    reported.deviceLocked = state.deviceLocked;
    reported.lockscreenShown = state.uiLocked;
    reported.launched = state.launched;
    reported.audioPlaying = state.otherAudioPlaying;
    reported.flashlightLevel = state.flashlightLevel;
    reported.notifications = state.notifications;
    reported.ios = Platform::systemVersion();
    reported.coreFoundation = kCFCoreFoundationVersionNumber;
    reported.companionInstalled = bool(state.companionWindow);
    return reported;
}

Driver::Reply runHostCommand(const Driver::Request& request)
{
    return std::visit(Performer { HostState::shared() }, request);
}

} // namespace SpringBoardHost
