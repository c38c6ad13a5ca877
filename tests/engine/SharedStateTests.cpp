// The shared unlock state: one object for every caller, and its starting values.
#include "EngineTestSupport.h"

#include "engine/PloverKestrel.h"

using namespace EngineTesting;
using namespace Runtime;

namespace {

class SharedStateTest : public EngineTest { };

TEST_F(SharedStateTest, EveryCallerGetsTheSameObjectTheFirstIncluded)
{
    PloverKestrel* first = &PloverKestrel::sharedInstance();
    EXPECT_EQ(&PloverKestrel::sharedInstance(), first);
    auto byMessage = send<RefPtr<Object>>(getClass("PloverKestrel"), "sharedInstance");
    EXPECT_EQ(byMessage.get(), first) << "the runtime message answers the same object";
    EXPECT_EQ(send<RefPtr<Object>>(getClass("PloverKestrel"), "sharedInstance").get(), first);
}

TEST_F(SharedStateTest, StartsWithTheFlashlightOffNoListControllerAndNoExternalBlock)
{
    auto& state = PloverKestrel::sharedInstance();
    EXPECT_FALSE(state.flashlightOn());
    EXPECT_EQ(state.notificationListController(), nullptr);
    EXPECT_FALSE(state.externalBlocksUnlock());
    EXPECT_FALSE(screenTouched);
    EXPECT_FALSE(delayedUnlockInProgress);

    EXPECT_FALSE(send<bool>(&state, "flashlightOn"));
    EXPECT_FALSE(send<RefPtr<Object>>(&state, "notificationListController"));
    EXPECT_FALSE(send<bool>(&state, "externalBlocksUnlock"));
}

TEST_F(SharedStateTest, TheExternalBlockAnswersNoInEveryState)
{
    auto& state = PloverKestrel::sharedInstance();
    state.setFlashlightOn(true);
    auto controller = allocInit(NSObject::runtimeClass());
    send(&state, "setNotificationListController:", controller.get());
    screenTouched = true;
    delayedUnlockInProgress = true;
    EXPECT_FALSE(state.externalBlocksUnlock());
    EXPECT_EQ(state.notificationListController(), controller.get());
    EXPECT_TRUE(send<bool>(&state, "flashlightOn"));
}

} // namespace
