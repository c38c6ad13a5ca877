// The lock-screen observers: each calls what it replaced exactly once and records the touch,
// the flashlight and the latest notification list controller.
#include "EngineTestSupport.h"

#include "engine/KestrelInstall.h"
#include "engine/PloverKestrel.h"
#include "host/springboard/HostCommands.h"
#include "platform/foundation/CoreGraphics.h"

#include <limits>

using namespace EngineTesting;
using namespace Runtime;

namespace {

SavedImplementation<RefPtr<Object>(CGPoint, Object*)> s_savedHostHitTest;
int s_hostHitTests = 0;
bool s_touchedWhenHostHitTestRan = false;
// The host's hit test, answering that no view was hit.
RefPtr<Object> hitNothing(Object* self, Selector selector, CGPoint point, Object* event)
{
    ++s_hostHitTests;
    s_touchedWhenHostHitTestRan = screenTouched;
    s_savedHostHitTest(self, selector, point, event);
    return nullptr;
}

SavedImplementation<RefPtr<Object>()> s_savedHostListInit;
Object* s_listInitReceiver = nullptr;
RefPtr<Object> s_listInitSubstitute;
// The host's init, handing back another object than the one it was sent to.
RefPtr<Object> initReturningAnotherObject(Object* self, Selector selector)
{
    s_listInitReceiver = self;
    s_savedHostListInit(self, selector);
    return s_listInitSubstitute;
}

class ObserverTest : public EngineTest {
protected:
    void TearDown() override
    {
        s_savedHostHitTest.clear();
        s_savedHostListInit.clear();
        s_listInitSubstitute = nullptr;
        EngineTest::TearDown();
    }

    static Object* recordedListController() { return PloverKestrel::sharedInstance().notificationListController(); }
};

TEST_F(ObserverTest, AHitTestThatFindsNoViewStillSetsTheTouchFlagFirst)
{
    registerHost();
    s_hostHitTests = 0;
    MSHookMessageEx(getClass("SBCoverSheetWindow"), sel("hitTest:withEvent:"), &hitNothing, &s_savedHostHitTest);
    kestrelInstall();
    SpringBoardHost::createLockScreenObjects();

    auto event = allocInit(NSObject::runtimeClass());
    auto hit = send<RefPtr<Object>>(host().coverSheetWindow, "hitTest:withEvent:", CGPoint { 10, 20 }, event.get());
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
    auto event = allocInit(NSObject::runtimeClass());
    auto recognizer = allocInit(NSObject::runtimeClass());

    auto hit = send<RefPtr<Object>>(host().coverSheetWindow, "hitTest:withEvent:", CGPoint { 187, 400 }, event.get());
    EXPECT_EQ(hit.get(), host().coverSheetWindow.get()) << "the hit view comes back unchanged";
    EXPECT_EQ(countEvents("hit-test"), 1u);
    EXPECT_TRUE(screenTouched);

    // The clearing hooks, each once while the flag is set and once while it is already clear.
    const std::pair<std::function<void()>, const char*> clearing[] = {
        { [&] { send(host().companionWindow, "handleTapFrom:", recognizer.get()); }, "aod tap" },
        { [&] { send(host().companionWindow, "handleDoubleTapFrom:", recognizer.get()); }, "aod double-tap" },
        { [&] { send(host().companionWindow, "hide"); }, "aod hide" },
        { [&] { send(host().companionWindow, "postHideSettings"); }, "aod post-hide" },
        { [&] { send(host().quickActionsController, "viewWillAppear:", true); }, "quick-actions will-appear" },
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

    send(host().biometricResource, "_notifyObserversOfEvent:", int64_t(3));
    EXPECT_EQ(countEvents("biometric event=3"), 1u);
    allocInit(getClass("CSCombinedListViewController"));
    EXPECT_EQ(countEvents("notification-list created id=2"), 1u);
}

TEST_F(ObserverTest, TheFlashlightIsOnForAnyNonZeroLevelOfTheWhole64Bits)
{
    boot();
    clearEvents();
    auto& state = PloverKestrel::sharedInstance();
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
        send(host().quickActionsController, "flashlightLevelDidChange:", level);
        EXPECT_EQ(state.flashlightOn(), on) << level;
        EXPECT_EQ(host().flashlightLevel, level) << "the level reaches the host unchanged";
    }
    EXPECT_EQ(eventsStartingWith("flashlight level=").size(), std::size(levels)) << "the host is called every time";
}

TEST_F(ObserverTest, TheNotificationListInitRecordsItsReceiverAndKeepsItAlive)
{
    boot();
    Object* controller = host().notificationListController.get();
    EXPECT_EQ(recordedListController(), controller);
    WeakPtr<Object> weakController(host().notificationListController);
    host().notificationListController = nullptr;
    EXPECT_TRUE(weakController) << "the engine keeps the latest controller alive";
}

TEST_F(ObserverTest, TheNotificationListInitRecordsTheReceiverEvenWhenInitAnswersAnotherObject)
{
    registerHost();
    s_listInitReceiver = nullptr;
    s_listInitSubstitute = allocInit(NSObject::runtimeClass());
    Class* listClass = getClass("CSCombinedListViewController");
    MSHookMessageEx(listClass, sel("init"), &initReturningAnotherObject, &s_savedHostListInit);
    kestrelInstall();

    auto allocated = send<RefPtr<Object>>(listClass, "alloc");
    auto initialised = send<RefPtr<Object>>(allocated, "init");
    EXPECT_EQ(initialised.get(), s_listInitSubstitute.get()) << "init's own answer is handed back";
    EXPECT_EQ(s_listInitReceiver, allocated.get());
    EXPECT_EQ(recordedListController(), allocated.get()) << "the receiver is recorded, not init's answer";
}

TEST_F(ObserverTest, ASecondControllerReplacesTheFirstWhichIsReleased)
{
    boot();
    WeakPtr<Object> first(host().notificationListController);
    clearEvents();
    host().notificationListController = allocInit(getClass("CSCombinedListViewController"));
    EXPECT_EQ(recordedListController(), host().notificationListController.get());
    EXPECT_FALSE(first) << "nothing keeps the first one alive any more";
    EXPECT_EQ(countEvents("notification-list freed id=1"), 1u);
}

} // namespace
