// Retrying a failed biometric match: the resource is made to forget its authenticated state
// and see the screen go off, then on again after "RetryInterval" seconds, upon which it
// starts a new match. Each step holds the resource until it has run.
#include "engine/DelayTime.h"
#include "engine/Hooks.h"
#include "engine/KSTPreferencesManager.h"

using namespace ObjC;

namespace Hooks {

void (*savedNotifyObserversOfEvent)(id, SEL, int64_t);

namespace {

// The resource's event for a failed match.
constexpr int64_t failedMatchEvent = 10;

struct RetryStep {
    RetainPtr resource;
};

void turnScreenOn(void* context)
{
    static SEL const noteScreenWillTurnOn = sel("noteScreenWillTurnOn");
    auto* step = static_cast<RetryStep*>(context);
    send(step->resource, noteScreenWillTurnOn);
    delete step;
}

void runRetrySequence(void* context)
{
    static SEL const setAuthenticated = sel("_setAuthenticated:");
    static SEL const noteScreenDidTurnOff = sel("noteScreenDidTurnOff");
    auto* step = static_cast<RetryStep*>(context);
    send(step->resource, setAuthenticated, false);
    send(step->resource, noteScreenDidTurnOff);
    // Read now, not at event time: a change made while the event waited counts.
    dispatch_time_t when = dispatchTimeAfterSeconds(floatPref("RetryInterval"));
    if (when == DISPATCH_TIME_FOREVER) {
        delete step;
        return;
    }
    dispatch_after_f(when, dispatch_get_main_queue(), step, &turnScreenOn);
}

} // namespace

void notifyObserversOfEvent(id self, SEL cmd, int64_t event)
{
    bool autoRetry = boolPref("AutoRetry");
    savedNotifyObserversOfEvent(self, cmd, event);
    if (event == failedMatchEvent && autoRetry)
        dispatch_async_f(dispatch_get_main_queue(), new RetryStep { RetainPtr(self) }, &runRetrySequence);
}

} // namespace Hooks
