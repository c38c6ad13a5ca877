// Retrying a failed biometric match: the resource is made to forget its
// authenticated state and see the screen go off, then on again after
// "RetryInterval" seconds, upon which it starts a new match.
#include "engine/Hooks.h"
#include "engine/KSTPreferencesManager.h"
#include "platform/dispatch/DispatchTime.h"
#include "platform/dispatch/MainQueue.h"

using namespace Runtime;

namespace Hooks {

SavedImplementation<void(int64_t)> savedNotifyObserversOfEvent;

namespace {

// The resource's event for a failed match.
constexpr int64_t failedMatchEvent = 10;

void runRetrySequence(const RefPtr<Object>& resource)
{
    send(resource, "_setAuthenticated:", false);
    send(resource, "noteScreenDidTurnOff");
    // Read now, not at event time: a change made while the event waited counts.
    int64_t interval = Platform::secondsToNanoseconds(floatPref("RetryInterval"));
    Platform::mainQueue().after(interval, [resource] { send(resource, "noteScreenWillTurnOn"); });
}

} // namespace

void notifyObserversOfEvent(Object* self, Selector cmd, int64_t event)
{
    bool autoRetry = boolPref("AutoRetry");
    savedNotifyObserversOfEvent(self, cmd, event);
    if (event == failedMatchEvent && autoRetry)
        Platform::mainQueue().async([resource = RefPtr<Object>(self)] { runRetrySequence(resource); });
}

} // namespace Hooks
