// The unlock decision at unit level: how many settings each path reads, the delayed-unlock
// block's captures and timing, and the notification count where the list is not there.
#include "EngineTestSupport.h"

#include "engine/EngineTesting.h"
#include "engine/KestrelInstall.h"
#include "engine/PloverKestrel.h"
#include "host/springboard/SpringBoardClasses.h"

#include "host/device/DriverProtocol.h"
#include "runtime/RuntimeTesting.h"

#include <cmath>
#include <limits>
#include <set>

using namespace EngineTesting;
using namespace Runtime;
using SpringBoardHost::NotificationRoute;

namespace {

const char* const blockedAttempt = "passcode=nil mesa=yes finish=no result=yes";
const char* const unlockNowAttempt = "passcode=nil mesa=yes finish=yes result=yes";

// A completion that records which object was invoked.
class RecordingCompletion final : public NSObject {
public:
    static std::vector<const Object*>& invoked()
    {
        static std::vector<const Object*> objects;
        return objects;
    }
    void invoke() const { invoked().push_back(this); }
};

class UnlockDecisionTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        RecordingCompletion::invoked().clear();
    }

    void bootAndClear(const SpringBoardHost::HostProfile& profile = {})
    {
        boot(profile);
        clearEvents();
    }

    // The settings file's opens during one biometric match.
    int lookupsDuringFaceMatch()
    {
        OpenCounter counter(hostPath(settingsPath));
        faceMatch();
        return counter.opens();
    }

    static Object* structuredListOf(Object* controller)
    {
        auto* ivar = classGetInstanceVariable(objectGetClass(controller), "_structuredListViewController");
        return ivar ? objectGetIvar(controller, ivar).get() : nullptr;
    }
};

TEST_F(UnlockDecisionTest, WithEnabledOffOnlyEnabledIsLookedUp)
{
    writeSettings({ { "Enabled", Value::boolean(false) }, { "DisableIfMusic", Value::boolean(true) } });
    bootAndClear();
    host().otherAudioPlaying = true;
    EXPECT_EQ(lookupsDuringFaceMatch(), 1);
    EXPECT_EQ(attempts(), std::vector<std::string> { blockedAttempt }) << "passed through unchanged";
}

TEST_F(UnlockDecisionTest, AMusicBlockStopsTheLookupsAfterTwo)
{
    writeSettings({ { "DisableIfMusic", Value::boolean(true) }, { "DisableIfFlashlight", Value::boolean(true) } });
    bootAndClear();
    host().otherAudioPlaying = true;
    EXPECT_EQ(lookupsDuringFaceMatch(), 2);
    EXPECT_EQ(attempts(), std::vector<std::string> { blockedAttempt });
}

TEST_F(UnlockDecisionTest, UnlockNowWithTheDefaultsReadsFiveSettings)
{
    writeSettings({ { "SomethingElse", Value::integer(1) } });
    bootAndClear();
    EXPECT_EQ(lookupsDuringFaceMatch(), 5);
    EXPECT_EQ(attempts(), std::vector<std::string> { unlockNowAttempt });
}

TEST_F(UnlockDecisionTest, TheLongestPathReadsSevenSettings)
{
    // Every test passes, the touch is looked at, and the delay is scheduled.
    writeSettings({ { "DisableIfMusic", Value::boolean(true) }, { "DisableIfFlashlight", Value::boolean(true) },
        { "DelayBeforeUnlock", Value::boolean(true) } });
    bootAndClear();
    host().notifications = { "com.apple.donotdisturb" };
    screenTouched = true;
    EXPECT_EQ(lookupsDuringFaceMatch(), 7);
    EXPECT_EQ(attempts(), std::vector<std::string> { blockedAttempt }) << "the first call goes on unchanged";
    EXPECT_EQ(queue().pendingCount(), 1u);
}

TEST_F(UnlockDecisionTest, TheDelayedUnlockDoesNotKeepItsReceiverAndSkipsOneThatIsGone)
{
    writeSettings({ { "DelayBeforeUnlock", Value::boolean(true) } });
    bootAndClear();
    auto manager = allocInit(getClass("SBLockScreenManager"));
    WeakPtr<Object> weakManager(manager);
    host().biometricAuthenticated = true;
    EXPECT_TRUE(attempt(manager.get(), nullptr, true, false, NSBlock::create(nullptr).ptr()));
    ASSERT_EQ(queue().pendingCount(), 1u);

    manager = nullptr;
    EXPECT_FALSE(weakManager) << "the scheduled block holds no reference to the receiver";
    queue().advanceBy(2 * nanosecondsPerSecond);
    EXPECT_EQ(attempts(), std::vector<std::string> { blockedAttempt }) << "nothing sent to a receiver that is gone";
    EXPECT_FALSE(delayedUnlockInProgress);
    EXPECT_FALSE(screenTouched);
    EXPECT_EQ(queue().pendingCount(), 0u);
}

TEST_F(UnlockDecisionTest, TheDelayedUnlockResendsTheSamePasscodeAndCompletion)
{
    writeSettings({ { "DelayBeforeUnlock", Value::boolean(true) } });
    bootAndClear();
    ClassBuilder<RecordingCompletion>("RecordingCompletion", "NSObject").method<&RecordingCompletion::invoke>("invoke");
    auto completion = allocInit(getClass("RecordingCompletion"));
    auto passcode = NSString::create("1234");
    WeakPtr<Object> weakCompletion(completion);

    host().biometricAuthenticated = true;
    EXPECT_TRUE(attempt(host().lockScreenManager.get(), passcode.ptr(), true, false, completion.get()));
    completion = nullptr;
    EXPECT_TRUE(weakCompletion) << "the block keeps the completion alive";
    queue().advanceBy(2 * nanosecondsPerSecond);

    EXPECT_EQ(attempts(),
        (std::vector<std::string> {
            "passcode=1234 mesa=yes finish=no result=yes", "passcode=1234 mesa=yes finish=yes result=yes" }));
    auto& invoked = RecordingCompletion::invoked();
    ASSERT_EQ(invoked.size(), 2u);
    EXPECT_EQ(invoked[0], invoked[1]);
    EXPECT_FALSE(weakCompletion) << "released once the block has run";
}

TEST_F(UnlockDecisionTest, ADelayTimeOfNaNRunsTheBlockAtTheNextTurn)
{
    writeSettings({ { "DelayBeforeUnlock", Value::boolean(true) },
        { "DelayTime", Value::real(std::numeric_limits<double>::quiet_NaN()) } });
    bootAndClear();
    faceMatch();
    EXPECT_EQ(attempts().size(), 1u) << "never inside the hook";
    EXPECT_EQ(queue().nextDeadline(), queue().now());
    queue().runUntilIdle();
    EXPECT_EQ(attempts(), (std::vector<std::string> { blockedAttempt, unlockNowAttempt }));
    EXPECT_EQ(queue().now(), 0);
}

TEST_F(UnlockDecisionTest, AHugeDelayTimeNeverFires)
{
    writeSettings({ { "DelayBeforeUnlock", Value::boolean(true) }, { "DelayTime", Value::real(1e30) } });
    bootAndClear();
    EXPECT_TRUE(faceMatch()) << "the delay was scheduled, as far as the caller can tell";
    EXPECT_EQ(queue().pendingCount(), 0u);
    queue().advanceBy(int64_t(100) * 365 * 24 * 3600 * nanosecondsPerSecond);
    EXPECT_EQ(attempts(), std::vector<std::string> { blockedAttempt });
}

TEST_F(UnlockDecisionTest, AHalfSecondDelayIsDueAtExactlyFiveHundredMillionNanoseconds)
{
    writeSettings({ { "DelayBeforeUnlock", Value::boolean(true) }, { "DelayTime", Value::real(0.5) } });
    bootAndClear();
    queue().advanceBy(7);
    faceMatch();
    EXPECT_EQ(queue().nextDeadline(), 7 + 500'000'000);
    queue().advanceBy(499'999'999);
    EXPECT_EQ(attempts().size(), 1u);
    queue().advanceBy(1);
    EXPECT_EQ(attempts(), (std::vector<std::string> { blockedAttempt, unlockNowAttempt }));
}

TEST_F(UnlockDecisionTest, AControllerWithoutTheStructuredListCountsNoNotifications)
{
    bootAndClear(profileFor(14, 0, NotificationRoute::None));
    host().notifications = { "com.example.mail", "com.example.chat" };
    ASSERT_TRUE(PloverKestrel::sharedInstance().notificationListController());
    EXPECT_FALSE(classGetInstanceVariable(
        objectGetClass(PloverKestrel::sharedInstance().notificationListController()), "_structuredListViewController"));
    faceMatch();
    EXPECT_EQ(attempts(), std::vector<std::string> { unlockNowAttempt });
}

TEST_F(UnlockDecisionTest, ANilStructuredListOrMasterListCountsNoNotifications)
{
    bootAndClear();
    host().notifications = { "com.example.mail", "com.example.chat" };
    Object* controller = PloverKestrel::sharedInstance().notificationListController();
    Object* structured = structuredListOf(controller);
    ASSERT_TRUE(structured);

    // The route works as set up: two notifications block.
    faceMatch();
    EXPECT_EQ(attempts(), std::vector<std::string> { blockedAttempt });
    clearEvents();

    objectSetIvar(structured, classGetInstanceVariable(objectGetClass(structured), "_masterList"), nullptr);
    faceMatch();
    EXPECT_EQ(attempts(), std::vector<std::string> { unlockNowAttempt }) << "no master list";
    clearEvents();

    objectSetIvar(
        controller, classGetInstanceVariable(objectGetClass(controller), "_structuredListViewController"), nullptr);
    faceMatch();
    EXPECT_EQ(attempts(), std::vector<std::string> { unlockNowAttempt }) << "no structured list";
}

TEST_F(UnlockDecisionTest, NoRecordedControllerCountsNoNotifications)
{
    bootAndClear();
    host().notifications = { "com.example.mail", "com.example.chat" };
    PloverKestrel::sharedInstance().setNotificationListController(nullptr);
    faceMatch();
    EXPECT_EQ(attempts(), std::vector<std::string> { unlockNowAttempt });
}

TEST_F(UnlockDecisionTest, ALoneNotificationWithoutASectionIdentifierBlocksOnBothRoutes)
{
    for (auto route : { NotificationRoute::Priority, NotificationRoute::Structured }) {
        SCOPED_TRACE(Driver::name(route));
        resetRegistryForTesting();
        kestrelResetForTesting();
        host().resetForTesting();
        bootAndClear(profileFor(14, 0, route));

        host().notifications = { "com.apple.donotdisturb" };
        faceMatch();
        host().notifications = { std::nullopt };
        host().setUILocked(true);
        faceMatch();
        EXPECT_EQ(attempts(), (std::vector<std::string> { unlockNowAttempt, blockedAttempt }));
    }
}

} // namespace

namespace {

// The engine's report words and the driver's are written in two places (the injected
// library links nothing of the driver): each must know every word of the other, or a
// report would be dropped on its way to the timeline.
TEST(DecisionReportWords, EveryWordTheEngineReportsIsOneTheDriverReadsAndBack)
{
    auto words = Hooks::reportWords();
    std::set<std::string> engineOutcomes(words.outcomes.begin(), words.outcomes.end());
    std::set<std::string> engineReasons(words.reasons.begin(), words.reasons.end());
    std::set<std::string> engineResults(words.delayedUnlockResults.begin(), words.delayedUnlockResults.end());
    std::set<std::string> driverOutcomes, driverReasons, driverResults;
    for (int i = 0; i <= int(Driver::Decision::Outcome::DelayScheduled); ++i)
        driverOutcomes.insert(Driver::name(Driver::Decision::Outcome(i)));
    for (int i = 0; i <= int(Driver::Decision::Reason::ReSend); ++i)
        driverReasons.insert(Driver::name(Driver::Decision::Reason(i)));
    for (int i = 0; i <= int(Driver::DelayedUnlock::Result::SkippedGone); ++i)
        driverResults.insert(Driver::name(Driver::DelayedUnlock::Result(i)));
    EXPECT_EQ(engineOutcomes, driverOutcomes);
    EXPECT_EQ(engineReasons, driverReasons);
    EXPECT_EQ(engineResults, driverResults);
    for (auto& outcome : engineOutcomes)
        EXPECT_TRUE(Driver::decisionOutcomeNamed(outcome)) << outcome;
}

} // namespace
