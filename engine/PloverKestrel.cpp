#include "engine/PloverKestrel.h"

#include "engine/EngineTesting.h"
#include "platform/foundation/PlatformCalls.h"
#include "runtime/ClassDefinition.h"

using namespace ObjC;

bool screenTouched = false;
bool delayedUnlockInProgress = false;

namespace {

Class s_class;
Ivar s_flashlightOnIvar;
Ivar s_notificationListControllerIvar;

dispatch_once_t s_onceToken;
id s_sharedInstance;

id sharedInstanceMethod(id, SEL) { return PloverKestrel::sharedInstance(); }

BOOL flashlightOn(id self, SEL) { return *ivarAddress<BOOL>(self, s_flashlightOnIvar); }

void setFlashlightOn(id self, SEL, BOOL on) { *ivarAddress<BOOL>(self, s_flashlightOnIvar) = on ? YES : NO; }

id notificationListController(id self, SEL) { return *ivarAddress<id>(self, s_notificationListControllerIvar); }

void setNotificationListController(id self, SEL, id controller)
{
    id* slot = ivarAddress<id>(self, s_notificationListControllerIvar);
    // Retained before the old one goes: the two may be one object.
    retain(controller);
    id previous = *slot;
    *slot = controller;
    release(previous);
}

BOOL externalBlocksUnlock(id, SEL) { return NO; }

void dealloc(id self, SEL cmd)
{
    id* slot = ivarAddress<id>(self, s_notificationListControllerIvar);
    id controller = *slot;
    *slot = nullptr;
    release(controller);
    sendSuper(self, s_class, cmd);
}

Class registerPloverKestrel()
{
    ClassDefinition definition("PloverKestrel", getClass("NSObject"));
    definition.ivar<BOOL>("_flashlightOn").ivar<id>("_notificationListController");
    definition.classMethod("sharedInstance", &sharedInstanceMethod)
        .method("flashlightOn", &flashlightOn)
        .method("setFlashlightOn:", &setFlashlightOn)
        .method("notificationListController", &notificationListController)
        .method("setNotificationListController:", &setNotificationListController)
        .method("externalBlocksUnlock", &externalBlocksUnlock)
        .method("dealloc", &dealloc);
    Class cls = definition.registerClass();
    s_flashlightOnIvar = instanceVariable(cls, "_flashlightOn");
    s_notificationListControllerIvar = instanceVariable(cls, "_notificationListController");
    return cls;
}

void makeSharedInstance(void*) { s_sharedInstance = allocInit(s_class).leak(); }

} // namespace

// Registered as the library loads, as the classes of a tweak are.
__attribute__((constructor)) static void loadPloverKestrel() { s_class = registerPloverKestrel(); }

id PloverKestrel::sharedInstance()
{
    dispatch_once_f(&s_onceToken, nullptr, &makeSharedInstance);
    return s_sharedInstance;
}

void resetSharedStateForTesting()
{
    id instance = s_sharedInstance;
    s_sharedInstance = nullptr;
    s_onceToken = 0;
    release(instance);
    screenTouched = false;
    delayedUnlockInProgress = false;
}
