// The shared unlock state: one object for every caller, its starting values, and the
// notification list controller it holds.
#include "EngineTestSupport.h"

#include "engine/EngineTesting.h"
#include "engine/PloverKestrel.h"

using namespace EngineTesting;
using namespace ObjC;

namespace {

class SharedStateTest : public EngineTest { };

TEST_F(SharedStateTest, EveryCallerGetsTheSameObjectTheFirstIncluded)
{
    id first = PloverKestrel::sharedInstance();
    ASSERT_TRUE(first);
    EXPECT_EQ(PloverKestrel::sharedInstance(), first);
    EXPECT_EQ(send<id>(getClass("PloverKestrel"), sel("sharedInstance")), first)
        << "the runtime message answers the same object";
    EXPECT_EQ(classOf(first), getClass("PloverKestrel"));
}

TEST_F(SharedStateTest, StartsWithTheFlashlightOffNoListControllerAndNoExternalBlock)
{
    id state = PloverKestrel::sharedInstance();
    EXPECT_FALSE(send<bool>(state, sel("flashlightOn")));
    EXPECT_EQ(send<id>(state, sel("notificationListController")), nullptr);
    EXPECT_FALSE(send<bool>(state, sel("externalBlocksUnlock")));
    EXPECT_FALSE(screenTouched);
    EXPECT_FALSE(delayedUnlockInProgress);

    // The state is in the instance variables the class declares, of their runtime types.
    Ivar flashlight = instanceVariable(classOf(state), "_flashlightOn");
    Ivar controller = instanceVariable(classOf(state), "_notificationListController");
    ASSERT_TRUE(flashlight);
    ASSERT_TRUE(controller);
    EXPECT_STREQ(ivar_getTypeEncoding(flashlight), "C");
    EXPECT_STREQ(ivar_getTypeEncoding(controller), "@");
    send(state, sel("setFlashlightOn:"), true);
    EXPECT_EQ(*ivarAddress<BOOL>(state, flashlight), YES);
}

TEST_F(SharedStateTest, TheExternalBlockAnswersNoInEveryState)
{
    id state = PloverKestrel::sharedInstance();
    send(state, sel("setFlashlightOn:"), true);
    RetainPtr controller = allocInit(getClass("NSObject"));
    send(state, sel("setNotificationListController:"), controller);
    screenTouched = true;
    delayedUnlockInProgress = true;
    EXPECT_FALSE(send<bool>(state, sel("externalBlocksUnlock")));
    EXPECT_EQ(send<id>(state, sel("notificationListController")), controller.get());
    EXPECT_TRUE(send<bool>(state, sel("flashlightOn")));
}

TEST_F(SharedStateTest, TheControllerIsHeldUntilReplacedAndLetGoWithTheState)
{
    id state = PloverKestrel::sharedInstance();
    RetainPtr first = allocInit(getClass("NSObject"));
    WeakPtr weakFirst(first);
    send(state, sel("setNotificationListController:"), first);
    send(state, sel("setNotificationListController:"), first);
    first = nullptr;
    EXPECT_TRUE(weakFirst.get()) << "held once, however often it is set";

    RetainPtr second = allocInit(getClass("NSObject"));
    WeakPtr weakSecond(second);
    send(state, sel("setNotificationListController:"), second);
    second = nullptr;
    EXPECT_FALSE(weakFirst.get()) << "the replaced controller is released";
    EXPECT_TRUE(weakSecond.get());

    resetSharedStateForTesting();
    EXPECT_FALSE(weakSecond.get()) << "the state's end lets its controller go";
}

} // namespace
