// The unlock decision at unit level: how many settings each path reads, the delayed-unlock
// block's captures and timing, and the notification count where the list is not there.
#include "EngineTestSupport.h"

#include "engine/EngineTesting.h"
#include "engine/KestrelInstall.h"
#include "engine/PloverKestrel.h"
#include "host/springboard/SpringBoardClasses.h"

#include "engine/DelayTime.h"
#include "host/device/DriverProtocol.h"
#include "platform/dispatch/DispatchTime.h"
#include "platform/foundation/FoundationValue.h"
#include "platform/trace/Trace.h"
#include "runtime/ClassDefinition.h"

#include <cmath>
#include <limits>
#include <set>

using namespace EngineTesting;
using namespace ObjC;
using SpringBoardHost::NotificationRoute;

namespace {

const char* const blockedAttempt = "passcode=nil mesa=yes finish=no result=yes";
const char* const unlockNowAttempt = "passcode=nil mesa=yes finish=yes result=yes";

// A completion that records which object was invoked.
struct RecordingCompletion {
    static std::vector<id>& invoked()
    {
        static std::vector<id> objects;
        return objects;
    }
    static void invoke(id self, SEL) { invoked().push_back(self); }
    static void registerClass()
    {
        ClassDefinition definition("RecordingCompletion", getClass("NSObject"));
        definition.method("invoke", &invoke);
        definition.registerClass();
    }
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

    static id structuredListOf(id controller) { return objectIvar(controller, "_structuredListViewController"); }
    static id recordedListController()
    {
        return send<id>(PloverKestrel::sharedInstance(), sel("notificationListController"));
    }
    // Lets go of what an object-typed instance variable holds and leaves it nil.
    static void clearIvar(id object, const char* name)
    {
        Ivar ivar = instanceVariable(classOf(object), name);
        ASSERT_TRUE(ivar) << name;
        id held = object_getIvar(object, ivar);
        object_setIvar(object, ivar, nullptr);
        release(held);
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
    std::vector<std::string> delayedUnlockReports;
    Platform::setTraceHook([&](std::string_view report, std::span<const Platform::TraceField> fields) {
        if (report == "delayed-unlock" && fields.size() == 1 && fields[0].name == "result")
            delayedUnlockReports.emplace_back(fields[0].value);
    });
    RetainPtr manager = allocInit(getClass("SBLockScreenManager"));
    WeakPtr weakManager(manager);
    host().biometricAuthenticated = true;
    EXPECT_TRUE(attempt(manager, nullptr, true, false, completion()));
    ASSERT_EQ(queue().pendingCount(), 1u);

    manager = nullptr;
    EXPECT_FALSE(weakManager.get()) << "the scheduled block holds no reference to the receiver";
    queue().advanceBy(2 * nanosecondsPerSecond);
    EXPECT_EQ(attempts(), std::vector<std::string> { blockedAttempt }) << "nothing sent to a receiver that is gone";
    EXPECT_FALSE(delayedUnlockInProgress);
    EXPECT_FALSE(screenTouched);
    EXPECT_EQ(queue().pendingCount(), 0u);
    EXPECT_EQ(delayedUnlockReports, std::vector<std::string> { "skipped-gone" });
    Platform::setTraceHook(nullptr);
}

TEST_F(UnlockDecisionTest, TheDelayedUnlockResendsTheSamePasscodeAndCompletion)
{
    writeSettings({ { "DelayBeforeUnlock", Value::boolean(true) } });
    bootAndClear();
    RecordingCompletion::registerClass();
    RetainPtr completion = allocInit(getClass("RecordingCompletion"));
    RetainPtr passcode;
    {
        // Nothing autoreleased may outlive the calls: only the block is to hold the two.
        AutoreleasePool pool;
        passcode = Platform::makeString("1234");
    }
    WeakPtr weakCompletion(completion);
    WeakPtr weakPasscode(passcode);

    host().biometricAuthenticated = true;
    {
        AutoreleasePool pool;
        EXPECT_TRUE(attempt(host().lockScreenManager, passcode, true, false, completion));
    }
    completion = nullptr;
    passcode = nullptr;
    EXPECT_TRUE(weakCompletion.get()) << "the block keeps the completion alive";
    EXPECT_TRUE(weakPasscode.get()) << "and the passcode";
    queue().advanceBy(2 * nanosecondsPerSecond);

    EXPECT_EQ(attempts(),
        (std::vector<std::string> {
            "passcode=1234 mesa=yes finish=no result=yes", "passcode=1234 mesa=yes finish=yes result=yes" }));
    auto& invoked = RecordingCompletion::invoked();
    ASSERT_EQ(invoked.size(), 2u);
    EXPECT_EQ(invoked[0], invoked[1]);
    EXPECT_FALSE(weakCompletion.get()) << "released once the block has run";
    EXPECT_FALSE(weakPasscode.get());
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
    ASSERT_TRUE(recordedListController());
    EXPECT_FALSE(instanceVariable(classOf(recordedListController()), "_structuredListViewController"));
    EXPECT_FALSE(respondsToSelector(recordedListController(), sel("notificationPriorityList")));
    faceMatch();
    EXPECT_EQ(attempts(), std::vector<std::string> { unlockNowAttempt });
}

TEST_F(UnlockDecisionTest, ANilStructuredListOrMasterListCountsNoNotifications)
{
    bootAndClear();
    host().notifications = { "com.example.mail", "com.example.chat" };
    id controller = recordedListController();
    id structured = structuredListOf(controller);
    ASSERT_TRUE(structured);
    EXPECT_STREQ(ivar_getTypeEncoding(instanceVariable(classOf(controller), "_structuredListViewController")), "@");

    // The route works as set up: two notifications block.
    faceMatch();
    EXPECT_EQ(attempts(), std::vector<std::string> { blockedAttempt });
    clearEvents();

    clearIvar(structured, "_masterList");
    faceMatch();
    EXPECT_EQ(attempts(), std::vector<std::string> { unlockNowAttempt }) << "no master list";
    clearEvents();

    clearIvar(controller, "_structuredListViewController");
    faceMatch();
    EXPECT_EQ(attempts(), std::vector<std::string> { unlockNowAttempt }) << "no structured list";
}

TEST_F(UnlockDecisionTest, NoRecordedControllerCountsNoNotifications)
{
    bootAndClear();
    host().notifications = { "com.example.mail", "com.example.chat" };
    send(PloverKestrel::sharedInstance(), sel("setNotificationListController:"), nullptr);
    faceMatch();
    EXPECT_EQ(attempts(), std::vector<std::string> { unlockNowAttempt });
}

// One route per process: the profile fixes SpringBoard's classes.
class LoneNotificationTest : public UnlockDecisionTest, public testing::WithParamInterface<NotificationRoute> { };

TEST_P(LoneNotificationTest, ALoneNotificationWithoutASectionIdentifierBlocks)
{
    bootAndClear(profileFor(14, 0, GetParam()));
    host().notifications = { "com.apple.donotdisturb" };
    faceMatch();
    host().notifications = { std::nullopt };
    host().setUILocked(true);
    faceMatch();
    EXPECT_EQ(attempts(), (std::vector<std::string> { unlockNowAttempt, blockedAttempt }));
}

INSTANTIATE_TEST_SUITE_P(BothRoutes, LoneNotificationTest,
    testing::Values(NotificationRoute::Priority, NotificationRoute::Structured),
    [](const testing::TestParamInfo<NotificationRoute>& info) { return std::string(Driver::name(info.param)); });

// The engine's conversion of its delays is the platform's own, written without the C library.
TEST(DelayTime, SecondsBecomeNanosecondsAsThePlatformConvertsThem)
{
    const float cases[] = { 0.0f, -0.0f, 0.5f, 1.0f, 2.0f, 0.1f, 1e-10f, -1.0f, 1e9f, 9.2233715e9f, 9.2233725e9f,
        -9.2233725e9f, 1e30f, -1e30f, std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
        std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::denorm_min(),
        std::numeric_limits<float>::max() };
    for (float seconds : cases)
        EXPECT_EQ(nanosecondsFromSeconds(seconds), Platform::secondsToNanoseconds(seconds)) << seconds;
}

} // namespace

namespace {

// The engine's report words and the driver's are written in two places (the injected
// library links nothing of the driver): each must know every word of the other, or a
// report would be dropped on its way to the timeline.
TEST(DecisionReportWords, EveryWordTheEngineReportsIsOneTheDriverReadsAndBack)
{
    auto words = Hooks::reportWords();
    std::set<std::string> engineOutcomes(words.outcomes, words.outcomes + words.outcomeCount);
    std::set<std::string> engineReasons(words.reasons, words.reasons + words.reasonCount);
    std::set<std::string> engineResults(
        words.delayedUnlockResults, words.delayedUnlockResults + words.delayedUnlockResultCount);
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
        EXPECT_TRUE(Driver::named<Driver::Decision::Outcome>(outcome)) << outcome;
}

} // namespace
