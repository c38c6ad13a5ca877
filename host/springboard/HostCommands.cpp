#include "host/springboard/HostCommands.h"

#include "host/device/LineChannel.h"
#include "host/springboard/SpringBoardClasses.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/foundation/CoreFoundation.h"
#include "platform/notify/CFNotificationCenter.h"

#include <charconv>
#include <iomanip>
#include <sstream>
#include <vector>

using namespace Runtime;

namespace SpringBoardHost {

namespace {

std::vector<std::string_view> splitWords(std::string_view line)
{
    std::vector<std::string_view> words;
    size_t start = 0;
    while (start < line.size()) {
        size_t end = line.find(' ', start);
        if (end == std::string_view::npos)
            end = line.size();
        if (end > start)
            words.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

bool parseInteger(std::string_view text, int64_t& value)
{
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

CommandReply failure(std::string text) { return { false, std::move(text) }; }

Class* notificationListClass()
{
    return getClass(classNamesFor(Platform::systemVersion().major).notificationListController);
}

CommandReply companionEvent(std::string_view action)
{
    auto& state = HostState::shared();
    if (!state.companionWindow) {
        hostEvent("aod " + std::string(action) + " companion=absent");
        return {};
    }
    auto recognizer = allocInit(NSObject::runtimeClass());
    if (action == "tap")
        send(state.companionWindow, "handleTapFrom:", recognizer.get());
    else if (action == "double-tap")
        send(state.companionWindow, "handleDoubleTapFrom:", recognizer.get());
    else if (action == "hide")
        send(state.companionWindow, "hide");
    else if (action == "post-hide")
        send(state.companionWindow, "postHideSettings");
    else
        return failure("unknown companion event " + std::string(action));
    return {};
}

std::string stateText()
{
    auto& state = HostState::shared();
    std::ostringstream text;
    text << "device=" << (state.deviceLocked ? "locked" : "unlocked")
         << " lockscreen=" << (state.uiLocked ? "shown" : "dismissed")
         << " launched=" << yesNo(state.launched)
         << " audio=" << (state.otherAudioPlaying ? "playing" : "stopped")
         << " flashlight=" << state.flashlightLevel
         << " notifications=" << state.notifications.size();
    for (auto& section : state.notifications)
        text << (section ? " " + *section : std::string(" nil"));
    text << " ios=" << Platform::systemVersionString() << " cf=" << std::setprecision(17) << kCFCoreFoundationVersionNumber
         << " companion=" << (state.companionWindow ? "installed" : "absent");
    return text.str();
}

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

CommandReply runHostCommand(std::string_view line)
{
    auto words = splitWords(line);
    if (words.empty())
        return failure("empty command");
    auto& state = HostState::shared();
    auto command = words[0];
    auto argument = [&](size_t index) { return index < words.size() ? words[index] : std::string_view(); };

    if (command == "advance") {
        int64_t nanoseconds = 0;
        if (!parseInteger(argument(1), nanoseconds) || nanoseconds < 0)
            return failure("bad advance");
        Platform::mainQueue().advanceBy(nanoseconds);
        return {};
    }
    if (command == "face") {
        if (argument(1) == "match") {
            state.biometricAuthenticated = true;
            send<bool>(state.lockScreenManager, "_attemptUnlockWithPasscode:mesa:finishUIUnlock:completion:", nullptr,
                true, false, NSBlock::create(nullptr).ptr());
            return {};
        }
        if (argument(1) == "fail") {
            send(state.biometricResource, "_notifyObserversOfEvent:", int64_t(10));
            return {};
        }
        if (argument(1) == "event") {
            int64_t event = 0;
            if (!parseInteger(argument(2), event))
                return failure("bad event number");
            send(state.biometricResource, "_notifyObserversOfEvent:", event);
            return {};
        }
        if (argument(1) == "next" && (argument(2) == "match" || argument(2) == "fail")) {
            state.queuedMatches.push_back(argument(2) == "match" ? MatchOutcome::Match : MatchOutcome::Fail);
            return {};
        }
        return failure("bad face command");
    }
    if (command == "attempt") {
        auto passcode = Device::decodeWord(argument(1));
        RefPtr<Object> passcodeObject;
        if (passcode)
            passcodeObject = NSString::create(*passcode);
        // The system sends a biometric attempt only after a match: the resource holds one.
        if (argument(2) == "1")
            state.biometricAuthenticated = true;
        send<bool>(state.lockScreenManager, "_attemptUnlockWithPasscode:mesa:finishUIUnlock:completion:",
            passcodeObject.get(), argument(2) == "1", argument(3) == "1", NSBlock::create(nullptr).ptr());
        return {};
    }
    if (command == "touch") {
        auto event = allocInit(NSObject::runtimeClass());
        send<RefPtr<Object>>(state.coverSheetWindow, "hitTest:withEvent:", CGPoint { 187, 400 }, event.get());
        return {};
    }
    if (command == "aod")
        return companionEvent(argument(1));
    if (command == "quick-actions") {
        send(state.quickActionsController, "viewWillAppear:", true);
        return {};
    }
    if (command == "flashlight") {
        int64_t level = 0;
        if (!parseInteger(argument(1), level))
            return failure("bad flashlight level");
        send(state.quickActionsController, "flashlightLevelDidChange:", level);
        return {};
    }
    if (command == "audio") {
        state.otherAudioPlaying = argument(1) == "playing";
        hostEvent(state.otherAudioPlaying ? "audio playing" : "audio stopped");
        return {};
    }
    if (command == "notification") {
        if (argument(1) == "add") {
            auto section = Device::decodeWord(argument(2));
            state.notifications.push_back(section);
            hostEvent("notification added section=" + section.value_or("nil"));
            return {};
        }
        if (argument(1) == "clear") {
            state.notifications.clear();
            hostEvent("notifications cleared");
            return {};
        }
        if (argument(1) == "new-controller") {
            // The new controller takes the old one's place; SpringBoard lets the old one go.
            state.notificationListController = allocInit(notificationListClass());
            return {};
        }
        return failure("bad notification command");
    }
    if (command == "host") {
        bool yes = argument(2) == "yes";
        if (argument(1) == "attempt-result") {
            state.attemptResult = yes;
            return {};
        }
        if (argument(1) == "ui-locked") {
            state.setUILocked(yes);
            return {};
        }
        return failure("bad host command");
    }
    if (command == "lock") {
        state.setDeviceLocked(true);
        state.setUILocked(true);
        return {};
    }
    if (command == "finish-launching") {
        finishLaunching();
        return {};
    }
    if (command == "state")
        return { true, stateText() };
    if (command == "query") {
        if (argument(1) == "lockscreen")
            return { true, state.uiLocked ? "shown" : "dismissed" };
        if (argument(1) == "device")
            return { true, state.deviceLocked ? "locked" : "unlocked" };
        if (argument(1) == "launched")
            return { true, yesNo(state.launched) };
        return failure("bad query");
    }
    return failure("unknown command " + std::string(command));
}

} // namespace SpringBoardHost
