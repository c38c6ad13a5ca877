#include "host/springboard/HostCommands.h"

#include "host/springboard/SpringBoardClasses.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/foundation/CoreFoundation.h"
#include "platform/foundation/FoundationValue.h"

using namespace ObjC;

namespace SpringBoardHost {

namespace {

Class notificationListClass()
{
    return getClass(classNamesFor(Platform::systemVersion().major).notificationListController);
}

SEL const s_attemptUnlock = sel("_attemptUnlockWithPasscode:mesa:finishUIUnlock:completion:");
SEL const s_notifyObserversOfEvent = sel("_notifyObserversOfEvent:");
SEL const s_hitTest = sel("hitTest:withEvent:");

// Whether the receiver's method has the type R (id, SEL, A...), as the system declares it.
template<typename R, typename... A> bool declaredAs(id receiver, SEL selector)
{
    Method method = class_getInstanceMethod(classOf(receiver), selector);
    using Parts = Detail::SignatureParts<R, A...>;
    return method && Detail::encodingMatches(method_getTypeEncoding(method), Parts::parts, Parts::count);
}

// The companion's gesture, sent as the system declares it: NO when the window's method is
// declared otherwise (a companion of another build), and then nothing is sent.
bool sendCompanionEvent(id window, Driver::AodAction action, id recognizer)
{
    static SEL const handleTapFrom = sel("handleTapFrom:");
    static SEL const handleDoubleTapFrom = sel("handleDoubleTapFrom:");
    static SEL const hide = sel("hide");
    static SEL const postHideSettings = sel("postHideSettings");
    auto sendWithRecognizer = [&](SEL selector) {
        if (!declaredAs<void, id>(window, selector))
            return false;
        send(window, selector, recognizer);
        return true;
    };
    auto sendPlain = [&](SEL selector) {
        if (!declaredAs<void>(window, selector))
            return false;
        send(window, selector);
        return true;
    };
    switch (action) {
    case Driver::AodAction::Tap:
        return sendWithRecognizer(handleTapFrom);
    case Driver::AodAction::DoubleTap:
        return sendWithRecognizer(handleDoubleTapFrom);
    case Driver::AodAction::Hide:
        return sendPlain(hide);
    case Driver::AodAction::PostHide:
        return sendPlain(postHideSettings);
    }
    return false;
}

void companionEvent(Driver::AodAction action)
{
    auto& state = HostState::shared();
    if (!state.companionWindow) {
        hostEvent("aod " + std::string(Driver::name(action)) + " companion=absent");
        return;
    }
    RetainPtr recognizer = allocInit(getClass("NSObject"));
    // A companion of another build may declare these methods otherwise: the system's gesture
    // then reaches nothing, and SpringBoard stays up.
    if (!sendCompanionEvent(state.companionWindow, action, recognizer))
        hostEvent("aod " + std::string(Driver::name(action)) + " companion=misfit");
}

// Each request, carried out; what is not a device action answers with a reply of its own.
struct Performer {
    HostState& state;

    Driver::Reply operator()(const Driver::FaceMatch&)
    {
        state.biometricAuthenticated = true;
        send<bool>(state.lockScreenManager, s_attemptUnlock, nullptr, true, false, CompletionBlock::create());
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::FaceFail&)
    {
        send(state.biometricResource, s_notifyObserversOfEvent, int64_t(10));
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::FaceEvent& command)
    {
        send(state.biometricResource, s_notifyObserversOfEvent, int64_t(command.event));
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::FaceNext& command)
    {
        state.queuedMatches.push_back(command.match ? MatchOutcome::Match : MatchOutcome::Fail);
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::Attempt& command)
    {
        id passcode = command.passcode ? state.passcodeObject(*command.passcode) : nullptr;
        // The system sends a biometric attempt only after a match: the resource holds one.
        if (command.mesa)
            state.biometricAuthenticated = true;
        send<bool>(state.lockScreenManager, s_attemptUnlock, passcode, bool(command.mesa), bool(command.finish),
            CompletionBlock::create());
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::Touch&)
    {
        RetainPtr event = allocInit(getClass("NSObject"));
        send<id>(state.coverSheetWindow, s_hitTest, CGPoint { 187, 400 }, event);
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::Aod& command)
    {
        companionEvent(command.action);
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::QuickActionsAppear&)
    {
        send(state.quickActionsController, sel("viewWillAppear:"), true);
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::Flashlight& command)
    {
        send(state.quickActionsController, sel("flashlightLevelDidChange:"), int64_t(command.level));
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::Audio& command)
    {
        state.otherAudioPlaying = command.playing;
        hostEvent(Driver::Facts::audio.line(command.playing));
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::NotificationAdd& command)
    {
        state.notifications.push_back(command.section);
        hostEvent(Driver::Notes::notificationAdded.line(command.section));
        return Driver::Done {};
    }
    Driver::Reply operator()(const Driver::NotificationClear&)
    {
        state.notifications.clear();
        hostEvent(Driver::Notes::notificationsCleared);
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
    state.lockScreenManager = send<id>(getClass("SBLockScreenManager"), sel("sharedInstance"));
    state.biometricResource = allocInit(getClass("SBUIBiometricResource"));
    state.coverSheetWindow = allocInit(getClass("SBCoverSheetWindow"));
    state.quickActionsController = allocInit(getClass(names.quickActionsController));
    state.notificationListController = allocInit(getClass(names.notificationListController));
    state.audioSession = send<id>(getClass("AVAudioSession"), sel("sharedInstance"));
    if (Class window = getClass("PloverAlwaysOnWindow"))
        state.companionWindow = allocInit(window);
}

void finishLaunching()
{
    auto& state = HostState::shared();
    send(state.application, sel("applicationDidFinishLaunching:"), state.application.get());
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
