// The unlock-attempt replacement: after a successful biometric match, decide whether the lock
// screen goes away now, later, or stays.
#include "engine/DelayTime.h"
#include "engine/EngineTesting.h"
#include "engine/Hooks.h"
#include "engine/KSTPreferencesManager.h"
#include "engine/PloverKestrel.h"

using namespace ObjC;

namespace Hooks {

BOOL (*savedAttemptUnlock)(id, SEL, id, BOOL, BOOL, id);

namespace {

SEL const s_attemptUnlock = sel("_attemptUnlockWithPasscode:mesa:finishUIUnlock:completion:");
SEL const s_sharedInstance = sel("sharedInstance");
SEL const s_isUILocked = sel("isUILocked");
SEL const s_isOtherAudioPlaying = sel("isOtherAudioPlaying");
SEL const s_flashlightOn = sel("flashlightOn");
SEL const s_externalBlocksUnlock = sel("externalBlocksUnlock");
SEL const s_notificationListController = sel("notificationListController");
SEL const s_respondsToSelector = sel("respondsToSelector:");
SEL const s_notificationPriorityList = sel("notificationPriorityList");
SEL const s_count = sel("count");
SEL const s_notificationRequestAtIndex = sel("notificationRequestAtIndex:");
SEL const s_incomingSectionList = sel("incomingSectionList");
SEL const s_allNotificationRequests = sel("allNotificationRequests");
SEL const s_copy = sel("copy");
SEL const s_objectAtIndex = sel("objectAtIndex:");
SEL const s_sectionIdentifier = sel("sectionIdentifier");

// The iOS 12.0 CoreFoundation: from here on, a lone do-not-disturb notice does not count.
constexpr double coreFoundationWithDoNotDisturbNotice = 1556.0;

// Looked up on first use and kept: the class of the manager whose lock-screen state the decision reads.
const ClassReference s_lockScreenManagerClass("SBLockScreenManager");
const ClassReference s_audioSessionClass("AVAudioSession");

id notificationListController() { return send<id>(PloverKestrel::sharedInstance(), s_notificationListController); }

bool offersPriorityList(id controller)
{
    return send<bool>(controller, s_respondsToSelector, s_notificationPriorityList);
}

// How many notifications wait on the lock screen. On the structured route the request list is
// copied into `requests` for the single-request test after. A controller that is missing, or
// that lacks either instance variable on the way, counts as no notifications: nothing visible
// is waiting that we could know of.
unsigned long notificationCount(id controller, RetainPtr& requests)
{
    if (offersPriorityList(controller))
        return send<unsigned long>(send<id>(controller, s_notificationPriorityList), s_count);

    id structuredList = objectIvar(controller, "_structuredListViewController");
    id masterList = objectIvar(structuredList, "_masterList");
    id sectionList = send<id>(masterList, s_incomingSectionList);
    id all = send<id>(sectionList, s_allNotificationRequests);
    requests = adopt(send<id>(all, s_copy));
    return send<unsigned long>(requests, s_count);
}

id singleNotificationRequest(id controller, const RetainPtr& requests)
{
    if (offersPriorityList(controller))
        return send<id>(send<id>(controller, s_notificationPriorityList), s_notificationRequestAtIndex, 0ul);
    return send<id>(requests, s_objectAtIndex, 0ul);
}

bool notificationsBlockUnlock()
{
    RetainPtr controller = notificationListController();
    RetainPtr requests;
    unsigned long count = notificationCount(controller, requests);
    if (!count)
        return false;
    if (kCFCoreFoundationVersionNumber < coreFoundationWithDoNotDisturbNotice)
        return true;
    if (count != 1)
        return true;
    static SEL const isEqualToString = sel("isEqualToString:");
    static id const doNotDisturb = RetainPtr(string("com.apple.donotdisturb")).leak();
    id sectionIdentifier = send<id>(singleNotificationRequest(controller, requests), s_sectionIdentifier);
    return !send<bool>(sectionIdentifier, isEqualToString, doNotDisturb);
}

// What the delayed-unlock block did, for whoever watches.
constexpr const char* delayedUnlockResults[] = { "sent", "skipped-touched", "skipped-gone" };

void report(const char* name, const char* const* namesAndValues, size_t pairCount)
{
    PlatformTrace(name, namesAndValues, pairCount);
}

// The block's captures: the passcode and the completion held, the receiver only weakly, so a
// manager that has gone away is simply not messaged.
struct DelayedUnlock {
    WeakPtr receiver;
    RetainPtr passcode;
    BOOL mesa;
    RetainPtr completion;
};

void runDelayedUnlock(void* context)
{
    auto* block = static_cast<DelayedUnlock*>(context);
    delayedUnlockInProgress = true;
    const char* result = delayedUnlockResults[1];
    if (!screenTouched) {
        result = delayedUnlockResults[2];
        if (RetainPtr receiver = block->receiver.get()) {
            send<bool>(receiver, s_attemptUnlock, block->passcode, block->mesa, true, block->completion);
            result = delayedUnlockResults[0];
        }
    }
    delayedUnlockInProgress = false;
    screenTouched = false;
    delete block;
    const char* fields[] = { "result", result };
    report("delayed-unlock", fields, 1);
}

void scheduleDelayedUnlock(id receiver, id passcode, BOOL mesa, id completion)
{
    dispatch_time_t when = dispatchTimeAfterSeconds(floatPref("DelayTime"));
    // A delay too long for the clock never comes: nothing is kept for it.
    if (when == DISPATCH_TIME_FOREVER)
        return;
    auto* block = new DelayedUnlock { WeakPtr(receiver), RetainPtr(passcode), mesa, RetainPtr(completion) };
    dispatch_after_f(when, dispatch_get_main_queue(), block, &runDelayedUnlock);
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
constexpr const char* outcomeNames[] = { "pass-through", "blocked", "touch-hold", "unlock-now", "delay-not-biometric",
    "delay-refused", "delay-scheduled" };
constexpr const char* reasonNames[]
    = { "none", "disabled", "re-send", "music", "flashlight", "external", "notifications" };

const char* outcomeName(Outcome outcome, bool delayScheduled)
{
    // Only a delay has two words: scheduled, or refused when the unlock it followed failed.
    if (outcome == Outcome::Delay && delayScheduled)
        return outcomeNames[static_cast<int>(Outcome::Delay) + 1];
    return outcomeNames[static_cast<int>(outcome)];
}

const char* reasonName(Reason reason) { return reasonNames[static_cast<int>(reason)]; }

// Reads the settings and the shared state, in a fixed order, and changes nothing. Each path
// reads only the settings it needs: the first that decides ends the reading.
Decision decide(bool mesa)
{
    bool enabled = boolPref("Enabled");
    if (delayedUnlockInProgress)
        return { Outcome::PassThrough, Reason::ReSend };
    if (!enabled)
        return { Outcome::PassThrough, Reason::Disabled };

    bool uiLocked = send<bool>(send<id>(s_lockScreenManagerClass.get(), s_sharedInstance), s_isUILocked);
    if (boolPref("DisableIfMusic")
        && send<bool>(send<id>(s_audioSessionClass.get(), s_sharedInstance), s_isOtherAudioPlaying))
        return { Outcome::Blocked, Reason::Music };
    if (boolPref("DisableIfFlashlight") && send<bool>(PloverKestrel::sharedInstance(), s_flashlightOn))
        return { Outcome::Blocked, Reason::Flashlight };
    if (send<bool>(PloverKestrel::sharedInstance(), s_externalBlocksUnlock))
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
    return { outcomeNames, sizeof outcomeNames / sizeof *outcomeNames, reasonNames,
        sizeof reasonNames / sizeof *reasonNames, delayedUnlockResults,
        sizeof delayedUnlockResults / sizeof *delayedUnlockResults };
}

BOOL attemptUnlock(id self, SEL cmd, id passcode, BOOL mesa, BOOL finishUIUnlock, id completion)
{
    Decision decision = decide(mesa);
    // The one call of the saved implementation, with the finishUIUnlock the outcome gives.
    auto callSaved
        = [&](BOOL finish) { return savedAttemptUnlock(self, cmd, passcode, mesa, finish, completion) != NO; };
    bool result = false;
    switch (decision.outcome) {
    case Outcome::PassThrough:
        screenTouched = false;
        delayedUnlockInProgress = false;
        result = callSaved(finishUIUnlock);
        break;
    case Outcome::Blocked:
        screenTouched = false;
        // A blocking condition keeps the lock screen after a biometric match; a passcode the
        // user typed goes on as the caller asked.
        result = callSaved(mesa ? NO : finishUIUnlock);
        break;
    case Outcome::TouchHold:
        screenTouched = false;
        result = callSaved(finishUIUnlock);
        break;
    case Outcome::UnlockNow:
        screenTouched = false;
        result = callSaved(YES);
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
    const char* fields[] = { "outcome", outcomeName(decision.outcome, result), "reason", reasonName(decision.reason) };
    report("decision", fields, 2);
    return result ? YES : NO;
}

} // namespace Hooks
