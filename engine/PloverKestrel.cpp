#include "engine/PloverKestrel.h"

#include "engine/EngineTesting.h"
#include "platform/dispatch/DispatchOnce.h"

#include <memory>

using namespace Runtime;

bool screenTouched = false;
bool delayedUnlockInProgress = false;

namespace {

const ClassReference s_class("PloverKestrel");

void registerPloverKestrel()
{
    ClassBuilder<PloverKestrel>("PloverKestrel", "NSObject")
        .classMethod<&PloverKestrel::sharedInstanceMessage>("sharedInstance")
        .method<&PloverKestrel::flashlightOn>("flashlightOn")
        .method<&PloverKestrel::setFlashlightOn>("setFlashlightOn:")
        .method<&PloverKestrel::notificationListControllerMessage>("notificationListController")
        .method<&PloverKestrel::setNotificationListController>("setNotificationListController:")
        .method<&PloverKestrel::externalBlocksUnlock>("externalBlocksUnlock")
        .ivar<&PloverKestrel::m_flashlightOn>("_flashlightOn")
        .ivar<&PloverKestrel::m_notificationListController>("_notificationListController");
}

const bool s_registered = (addClassRegistrar(&registerPloverKestrel), true);

std::unique_ptr<Platform::OnceFlag> s_onceToken = std::make_unique<Platform::OnceFlag>();
PloverKestrel* s_sharedInstance = nullptr;

} // namespace

PloverKestrel& PloverKestrel::sharedInstance()
{
    Platform::dispatchOnce(*s_onceToken, [] {
        // Made by plain allocation and init, and never released.
        s_sharedInstance = checkedDowncast<PloverKestrel>(allocInit(s_class.get()).leakRef());
    });
    return *s_sharedInstance;
}

RefPtr<Object> PloverKestrel::sharedInstanceMessage() { return RefPtr<Object>(&sharedInstance()); }

void resetSharedStateForTesting()
{
    if (s_sharedInstance)
        s_sharedInstance->deref();
    s_sharedInstance = nullptr;
    s_onceToken = std::make_unique<Platform::OnceFlag>();
    screenTouched = false;
    delayedUnlockInProgress = false;
}
