// The biometric-match retry: when its settings are read, how its interval turns into a
// deadline at the edges, and what keeps the resource alive while a retry waits.
#include "EngineTestSupport.h"

#include "engine/EngineTesting.h"
#include "engine/KestrelInstall.h"
#include <limits>

using namespace EngineTesting;
using namespace ObjC;

namespace {

const std::vector<std::string> retryStart = { "biometric set-authenticated=no", "biometric screen-off" };

class AutoRetryTest : public EngineTest {
protected:
    void bootWith(std::vector<std::pair<std::string, Value>> settings)
    {
        writeSettings(std::move(settings));
        boot();
        clearEvents();
    }

    static void failedMatch(id resource) { send(resource, sel("_notifyObserversOfEvent:"), int64_t(10)); }
    static void failedMatch() { failedMatch(host().biometricResource); }

    std::vector<std::string> biometricCalls() const
    {
        std::vector<std::string> calls;
        for (auto& event : eventsStartingWith("biometric ")) {
            if (!event.starts_with("biometric event=") && !event.starts_with("biometric match"))
                calls.push_back(event);
        }
        return calls;
    }
};

TEST_F(AutoRetryTest, AutoRetryIsReadAtTheEventAndTheIntervalWhenTheSequenceRuns)
{
    bootWith({ { "AutoRetry", Value::boolean(true) }, { "RetryInterval", Value::real(1.0) } });
    failedMatch();
    EXPECT_EQ(eventsStartingWith("biometric "), std::vector<std::string> { "biometric event=10" })
        << "nothing runs inside the hook";

    // Both change between the event and the sequence: only the interval's change counts.
    writeSettings({ { "AutoRetry", Value::boolean(false) }, { "RetryInterval", Value::real(3.0) } });
    queue().runUntilIdle();
    EXPECT_EQ(biometricCalls(), retryStart);
    EXPECT_EQ(queue().nextDeadline(), 3 * nanosecondsPerSecond);
    queue().advanceBy(3 * nanosecondsPerSecond - 1);
    EXPECT_EQ(biometricCalls().size(), 2u);
    queue().advanceBy(1);
    EXPECT_EQ(biometricCalls().back(), "biometric screen-on");
}

TEST_F(AutoRetryTest, AnIntervalOfNaNOrBelowZeroTurnsTheScreenOnAtTheNextTurn)
{
    boot();
    for (double interval : { std::numeric_limits<double>::quiet_NaN(), -1.0, 0.0 }) {
        SCOPED_TRACE(interval);
        writeSettings({ { "AutoRetry", Value::boolean(true) }, { "RetryInterval", Value::real(interval) } });
        clearEvents();
        failedMatch();
        queue().runUntilIdle();
        auto calls = biometricCalls();
        auto expected = retryStart;
        expected.push_back("biometric screen-on");
        EXPECT_EQ(calls, expected);
        EXPECT_EQ(queue().now(), 0);
    }
}

TEST_F(AutoRetryTest, AnIntervalTooLargeForTheClockNeverTurnsTheScreenOn)
{
    bootWith({ { "AutoRetry", Value::boolean(true) }, { "RetryInterval", Value::real(1e30) } });
    failedMatch();
    queue().runUntilIdle();
    EXPECT_EQ(biometricCalls(), retryStart);
    EXPECT_EQ(queue().pendingCount(), 0u);
    queue().advanceBy(int64_t(100) * 365 * 24 * 3600 * nanosecondsPerSecond);
    EXPECT_EQ(biometricCalls(), retryStart);
}

TEST_F(AutoRetryTest, TheRetryKeepsTheResourceAliveUntilItsLastCall)
{
    bootWith({ { "AutoRetry", Value::boolean(true) } });
    RetainPtr resource = allocInit(getClass("SBUIBiometricResource"));
    WeakPtr weakResource(resource);
    failedMatch(resource);
    resource = nullptr;
    EXPECT_TRUE(weakResource.get()) << "held by the queued sequence";

    queue().runUntilIdle();
    EXPECT_EQ(biometricCalls(), retryStart);
    EXPECT_TRUE(weakResource.get()) << "held by the waiting screen-on call";

    queue().advanceBy(nanosecondsPerSecond);
    EXPECT_EQ(biometricCalls().back(), "biometric screen-on");
    queue().runUntilIdle();
    EXPECT_FALSE(weakResource.get()) << "let go once the retry is over";
}

TEST_F(AutoRetryTest, OtherEventsAndAutoRetryOffStartNothing)
{
    bootWith({ { "AutoRetry", Value::boolean(true) } });
    for (int64_t event : { int64_t(0), int64_t(9), int64_t(11), int64_t(10) + (int64_t(1) << 32) })
        send(host().biometricResource, sel("_notifyObserversOfEvent:"), event);
    writeSettings({ { "AutoRetry", Value::boolean(false) } });
    failedMatch();
    queue().runUntilIdle();
    queue().advanceBy(10 * nanosecondsPerSecond);
    EXPECT_TRUE(biometricCalls().empty());
    EXPECT_EQ(eventsStartingWith("biometric event=").size(), 5u) << "the host hears of every event";
}

} // namespace
