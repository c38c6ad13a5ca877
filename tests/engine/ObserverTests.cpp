// The lock-screen observers: each calls what it replaced exactly once and records the touch,
// the flashlight and the latest notification list controller.
#include "EngineTestSupport.h"

#include "engine/KestrelInstall.h"
#include "engine/PloverKestrel.h"
#include "host/springboard/HostCommands.h"
#include "host/springboard/SpringBoardClasses.h"
#include "runtime/Substrate.h"

#include <functional>
#include <limits>

using namespace EngineTesting;
using namespace ObjC;

namespace {

id (*s_savedHostHitTest)(id, SEL, CGPoint, id);
int s_hostHitTests = 0;
bool s_touchedWhenHostHitTestRan = false;
// The host's hit test, answering that no view was hit.
id hitNothing(id self, SEL selector, CGPoint point, id event)
{
    ++s_hostHitTests;
    s_touchedWhenHostHitTestRan = screenTouched;
    s_savedHostHitTest(self, selector, point, event);
    return nullptr;
}

id (*s_savedHostListInit)(id, SEL);
id s_listInitReceiver = nullptr;
RetainPtr s_listInitSubstitute;
// The host's init, handing back another object than the one it was sent to (owned, as init's
// answer is) and keeping the receiver it was sent to alive for the test to look at.
id initReturningAnotherObject(id self, SEL selector)
{
    s_listInitReceiver = self;
    s_savedHostListInit(self, selector);
    retain(s_listInitSubstitute);
    return s_listInitSubstitute;
}

class ObserverTest : public EngineTest {
protected:
    void TearDown() override
    {
        s_listInitSubstitute = nullptr;
        EngineTest::TearDown();
    }

    static id recordedListController()
    {
        return send<id>(PloverKestrel::sharedInstance(), sel("notificationListController"));
    }
    static bool flashlightOn() { return send<bool>(PloverKestrel::sharedInstance(), sel("flashlightOn")); }
};

TEST_F(ObserverTest, AHitTestThatFindsNoViewStillSetsTheTouchFlagFirst)
{
    registerHost();
    s_hostHitTests = 0;
    hookMessage(getClass("SBCoverSheetWindow"), sel("hitTest:withEvent:"), &hitNothing, &s_savedHostHitTest);
    kestrelInstall();
    SpringBoardHost::createLockScreenObjects();

    RetainPtr event = allocInit(getClass("NSObject"));
    id hit = send<id>(host().coverSheetWindow, sel("hitTest:withEvent:"), CGPoint { 10, 20 }, event);
    EXPECT_FALSE(hit);
    EXPECT_TRUE(screenTouched);
    EXPECT_TRUE(s_touchedWhenHostHitTestRan) << "the flag is set before the window resolves the hit";
    EXPECT_EQ(s_hostHitTests, 1);
}

TEST_F(ObserverTest, EveryObserverCallsWhatItReplacedExactlyOnceAndPassesItsResultBack)
{
    installCompanion();
    boot();
    clearEvents();
    RetainPtr event = allocInit(getClass("NSObject"));
    RetainPtr recognizer = allocInit(getClass("NSObject"));

    id hit = send<id>(host().coverSheetWindow, sel("hitTest:withEvent:"), CGPoint { 187, 400 }, event);
    EXPECT_EQ(hit, host().coverSheetWindow.get()) << "the hit view comes back unchanged";
    EXPECT_EQ(countEvents("hit-test"), 1u);
    EXPECT_TRUE(screenTouched);

    // The clearing hooks, each once while the flag is set and once while it is already clear.
    const std::pair<std::function<void()>, const char*> clearing[] = {
        { [&] { send(host().companionWindow, sel("handleTapFrom:"), recognizer); }, "aod tap" },
        { [&] { send(host().companionWindow, sel("handleDoubleTapFrom:"), recognizer); }, "aod double-tap" },
        { [&] { send(host().companionWindow, sel("hide")); }, "aod hide" },
        { [&] { send(host().companionWindow, sel("postHideSettings")); }, "aod post-hide" },
        { [&] { send(host().quickActionsController, sel("viewWillAppear:"), true); }, "quick-actions will-appear" },
    };
    for (auto& [call, hostEvent] : clearing) {
        SCOPED_TRACE(hostEvent);
        screenTouched = true;
        call();
        EXPECT_FALSE(screenTouched);
        call();
        EXPECT_FALSE(screenTouched);
        EXPECT_EQ(countEvents(hostEvent), 2u);
    }

    send(host().biometricResource, sel("_notifyObserversOfEvent:"), int64_t(3));
    EXPECT_EQ(countEvents("biometric event=3"), 1u);
    allocInit(getClass("CSCombinedListViewController"));
    EXPECT_EQ(countEvents("notification-list freed id=2"), 0u) << "the engine holds the controller it recorded";
    EXPECT_EQ(countEvents("notification-list created id=2"), 1u);
}

TEST_F(ObserverTest, TheFlashlightIsOnForAnyNonZeroLevelOfTheWhole64Bits)
{
    boot();
    clearEvents();
    const std::pair<int64_t, bool> levels[] = {
        { 0, false },
        { int64_t(1) << 32, true },
        { 0, false },
        { std::numeric_limits<int64_t>::min(), true },
        { 1, true },
        { 1, true },
        { 0, false },
    };
    for (auto [level, on] : levels) {
        send(host().quickActionsController, sel("flashlightLevelDidChange:"), level);
        EXPECT_EQ(flashlightOn(), on) << level;
        EXPECT_EQ(host().flashlightLevel, level) << "the level reaches the host unchanged";
    }
    EXPECT_EQ(eventsStartingWith("flashlight level=").size(), std::size(levels)) << "the host is called every time";
}

TEST_F(ObserverTest, TheNotificationListInitRecordsItsReceiverAndKeepsItAlive)
{
    boot();
    id controller = host().notificationListController.get();
    EXPECT_EQ(recordedListController(), controller);
    WeakPtr weakController(host().notificationListController);
    host().notificationListController = nullptr;
    EXPECT_TRUE(weakController.get()) << "the engine keeps the latest controller alive";
}

TEST_F(ObserverTest, TheNotificationListInitRecordsTheReceiverEvenWhenInitAnswersAnotherObject)
{
    registerHost();
    s_listInitReceiver = nullptr;
    s_listInitSubstitute = allocInit(getClass("NSObject"));
    Class listClass = getClass("CSCombinedListViewController");
    hookMessage(listClass, sel("init"), &initReturningAnotherObject, &s_savedHostListInit);
    kestrelInstall();

    RetainPtr allocated = adopt(send<id>(listClass, sel("alloc")));
    RetainPtr initialised = adopt(send<id>(allocated, sel("init")));
    EXPECT_EQ(initialised.get(), s_listInitSubstitute.get()) << "init's own answer is handed back";
    EXPECT_EQ(s_listInitReceiver, allocated.get());
    EXPECT_EQ(recordedListController(), allocated.get()) << "the receiver is recorded, not init's answer";
}

TEST_F(ObserverTest, ASecondControllerReplacesTheFirstWhichIsReleased)
{
    boot();
    WeakPtr first(host().notificationListController);
    clearEvents();
    host().notificationListController = allocInit(getClass("CSCombinedListViewController"));
    EXPECT_EQ(recordedListController(), host().notificationListController.get());
    EXPECT_FALSE(first.get()) << "nothing keeps the first one alive any more";
    EXPECT_EQ(countEvents("notification-list freed id=1"), 1u);
}

} // namespace
