// The unlock-attempt replacement: after a successful biometric match, decide
// whether the lock screen goes away now, later, or stays.
#include "engine/EngineTesting.h"
#include "engine/Hooks.h"
#include "engine/KSTPreferencesManager.h"
#include "engine/PloverKestrel.h"
#include "platform/dispatch/DispatchTime.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/foundation/CoreFoundation.h"
#include "platform/trace/Trace.h"

#include <iterator>
#include <string_view>

using namespace Runtime;

namespace Hooks {

SavedImplementation<bool(Object*, bool, bool, Object*)> savedAttemptUnlock;

namespace {

const Selector s_attemptUnlock = sel("_attemptUnlockWithPasscode:mesa:finishUIUnlock:completion:");
const Selector s_sharedInstance = sel("sharedInstance");
const Selector s_isUILocked = sel("isUILocked");
const Selector s_isOtherAudioPlaying = sel("isOtherAudioPlaying");
const Selector s_respondsToSelector = sel("respondsToSelector:");
const Selector s_notificationPriorityList = sel("notificationPriorityList");
const Selector s_count = sel("count");
const Selector s_notificationRequestAtIndex = sel("notificationRequestAtIndex:");
const Selector s_incomingSectionList = sel("incomingSectionList");
const Selector s_allNotificationRequests = sel("allNotificationRequests");
const Selector s_copy = sel("copy");
const Selector s_objectAtIndex = sel("objectAtIndex:");
const Selector s_sectionIdentifier = sel("sectionIdentifier");
const Selector s_isEqualToString = sel("isEqualToString:");

// The iOS 12.0 CoreFoundation: from here on, a lone do-not-disturb notice does not count.
constexpr double coreFoundationWithDoNotDisturbNotice = 1556.0;

// Looked up on first use and kept: the class of the manager whose lock-screen state the decision reads.
const ClassReference s_lockScreenManagerClass("SBLockScreenManager");
const ClassReference s_audioSessionClass("AVAudioSession");

// Reads an object instance variable by name; nil when the object's class has
// no such variable, so a missing variable is never read through.
RefPtr<Object> instanceVariable(Object* object, std::string_view name)
{
    const Ivar* ivar = classGetInstanceVariable(objectGetClass(object), name);
    if (!ivar)
        return nullptr;
    return objectGetIvar(object, ivar);
}

bool offersPriorityList(Object* controller)
{
    return send<bool>(controller, s_respondsToSelector, s_notificationPriorityList);
}

// How many notifications wait on the lock screen. On the structured route the
// request list is copied into `requests` for the single-request test after.
// A controller that is missing, or that lacks either instance variable on the
// way, counts as no notifications: nothing visible is waiting that we could know of.
uint64_t notificationCount(RefPtr<Object>& requests)
{
    Object* controller = PloverKestrel::sharedInstance().notificationListController();
    if (offersPriorityList(controller))
        return send<uint64_t>(send<RefPtr<Object>>(controller, s_notificationPriorityList), s_count);

    auto structuredList = instanceVariable(controller, "_structuredListViewController");
    auto masterList = instanceVariable(structuredList.get(), "_masterList");
    auto sectionList = send<RefPtr<Object>>(masterList, s_incomingSectionList);
    auto all = send<RefPtr<Object>>(sectionList, s_allNotificationRequests);
    requests = send<RefPtr<Object>>(all, s_copy);
    return send<uint64_t>(requests, s_count);
}

RefPtr<Object> singleNotificationRequest(const RefPtr<Object>& requests)
{
    Object* controller = PloverKestrel::sharedInstance().notificationListController();
    if (offersPriorityList(controller)) {
        auto priorityList = send<RefPtr<Object>>(controller, s_notificationPriorityList);
        return send<RefPtr<Object>>(priorityList, s_notificationRequestAtIndex, uint64_t(0));
    }
    return send<RefPtr<Object>>(requests, s_objectAtIndex, uint64_t(0));
}

bool notificationsBlockUnlock()
{
    RefPtr<Object> requests;
    uint64_t count = notificationCount(requests);
    if (!count)
        return false;
    if (kCFCoreFoundationVersionNumber < coreFoundationWithDoNotDisturbNotice)
        return true;
    if (count != 1)
        return true;
    auto sectionIdentifier = send<RefPtr<Object>>(singleNotificationRequest(requests), s_sectionIdentifier);
    return !send<bool>(sectionIdentifier, s_isEqualToString, NSString::create("com.apple.donotdisturb"));
}

// What the delayed-unlock block did, for whoever watches.
constexpr std::string_view delayedUnlockResults[] = { "sent", "skipped-touched", "skipped-gone" };
void reportDelayedUnlock(std::string_view result) { Platform::trace("delayed-unlock", { { "result", result } }); }

void scheduleDelayedUnlock(Object* receiver, Object* passcode, bool mesa, Object* completion)
{
    int64_t delay = Platform::secondsToNanoseconds(floatPref("DelayTime"));
    // The block holds the passcode and the completion; the receiver only weakly,
    // so a manager that has gone away is simply not messaged.
    Platform::mainQueue().after(delay,
        [weakReceiver = WeakPtr<Object>(receiver), passcode = RefPtr<Object>(passcode), mesa,
            completion = RefPtr<Object>(completion)] {
            delayedUnlockInProgress = true;
            std::string_view result = delayedUnlockResults[1];
            if (!screenTouched) {
                result = delayedUnlockResults[2];
                if (auto strongReceiver = weakReceiver.get()) {
                    send<bool>(strongReceiver, s_attemptUnlock, passcode.get(), mesa, true, completion.get());
                    result = delayedUnlockResults[0];
                }
            }
            delayedUnlockInProgress = false;
            screenTouched = false;
            reportDelayedUnlock(result);
        });
}

// What the decision makes of one unlock attempt, and why.
enum class Outcome {
    PassThrough, // the call goes on unchanged
    Blocked, // a blocking condition holds: the lock screen stays after a match
    TouchHold, // the lock screen was touched before the match
    UnlockNow, // the lock screen goes away with the unlock
    DelayNotBiometric, // the delay is on but the attempt is not a match: unchanged
    Delay, // the match unlocks now and a block dismisses the lock screen later
};
enum class Reason { None, Disabled, ReSend, Music, Flashlight, External, Notifications };

struct Decision {
    Outcome outcome;
    Reason reason { Reason::None };
};

// The report's words, as whoever watches reads them.
std::string_view outcomeName(Outcome outcome, bool delayScheduled)
{
    switch (outcome) {
    case Outcome::PassThrough:
        return "pass-through";
    case Outcome::Blocked:
        return "blocked";
    case Outcome::TouchHold:
        return "touch-hold";
    case Outcome::UnlockNow:
        return "unlock-now";
    case Outcome::DelayNotBiometric:
        return "delay-not-biometric";
    case Outcome::Delay:
        return delayScheduled ? "delay-scheduled" : "delay-refused";
    }
    return "pass-through";
}

std::string_view reasonName(Reason reason)
{
    switch (reason) {
    case Reason::None:
        return "none";
    case Reason::Disabled:
        return "disabled";
    case Reason::ReSend:
        return "re-send";
    case Reason::Music:
        return "music";
    case Reason::Flashlight:
        return "flashlight";
    case Reason::External:
        return "external";
    case Reason::Notifications:
        return "notifications";
    }
    return "none";
}

// Reads the settings and the shared state, in a fixed order, and changes nothing.
// Each path reads only the settings it needs: the first that decides ends the reading.
Decision decide(bool mesa)
{
    bool enabled = boolPref("Enabled");
    if (delayedUnlockInProgress)
        return { Outcome::PassThrough, Reason::ReSend };
    if (!enabled)
        return { Outcome::PassThrough, Reason::Disabled };

    bool uiLocked = send<bool>(send<RefPtr<Object>>(s_lockScreenManagerClass.get(), s_sharedInstance), s_isUILocked);
    if (boolPref("DisableIfMusic")
        && send<bool>(send<RefPtr<Object>>(s_audioSessionClass.get(), s_sharedInstance), s_isOtherAudioPlaying))
        return { Outcome::Blocked, Reason::Music };
    if (boolPref("DisableIfFlashlight") && PloverKestrel::sharedInstance().flashlightOn())
        return { Outcome::Blocked, Reason::Flashlight };
    if (PloverKestrel::sharedInstance().externalBlocksUnlock())
        return { Outcome::Blocked, Reason::External };
    if (boolPref("DisableIfNotifications") && notificationsBlockUnlock())
        return { Outcome::Blocked, Reason::Notifications };

    if (screenTouched && boolPref("BlockForTouch"))
        return { Outcome::TouchHold };
    bool delayBeforeUnlock = boolPref("DelayBeforeUnlock");
    if (!(uiLocked && delayBeforeUnlock))
        return { Outcome::UnlockNow };
    return { mesa ? Outcome::Delay : Outcome::DelayNotBiometric };
}

} // namespace

ReportWords reportWords()
{
    ReportWords words;
    for (auto outcome : { Outcome::PassThrough, Outcome::Blocked, Outcome::TouchHold, Outcome::UnlockNow,
             Outcome::DelayNotBiometric, Outcome::Delay })
        words.outcomes.push_back(outcomeName(outcome, false));
    // Only a delay has two words: scheduled, or refused when the unlock it followed failed.
    words.outcomes.push_back(outcomeName(Outcome::Delay, true));
    for (auto reason : { Reason::None, Reason::Disabled, Reason::ReSend, Reason::Music, Reason::Flashlight,
             Reason::External, Reason::Notifications })
        words.reasons.push_back(reasonName(reason));
    words.delayedUnlockResults.assign(std::begin(delayedUnlockResults), std::end(delayedUnlockResults));
    return words;
}

bool attemptUnlock(Object* self, Selector cmd, Object* passcode, bool mesa, bool finishUIUnlock, Object* completion)
{
    Decision decision = decide(mesa);
    // The one call of the saved implementation, with the finishUIUnlock the outcome gives.
    auto callSaved = [&](bool finish) { return savedAttemptUnlock(self, cmd, passcode, mesa, finish, completion); };
    bool result = false;
    switch (decision.outcome) {
    case Outcome::PassThrough:
        screenTouched = false;
        delayedUnlockInProgress = false;
        result = callSaved(finishUIUnlock);
        break;
    case Outcome::Blocked:
        screenTouched = false;
        // A blocking condition keeps the lock screen after a biometric match; a passcode
        // the user typed goes on as the caller asked.
        result = callSaved(mesa ? false : finishUIUnlock);
        break;
    case Outcome::TouchHold:
        screenTouched = false;
        result = callSaved(finishUIUnlock);
        break;
    case Outcome::UnlockNow:
        screenTouched = false;
        result = callSaved(true);
        break;
    case Outcome::DelayNotBiometric:
        result = callSaved(finishUIUnlock);
        break;
    case Outcome::Delay:
        result = callSaved(finishUIUnlock);
        if (result)
            scheduleDelayedUnlock(self, passcode, mesa, completion);
        break;
    }
    Platform::trace("decision",
        { { "outcome", outcomeName(decision.outcome, result) }, { "reason", reasonName(decision.reason) } });
    return result;
}

} // namespace Hooks
