// Replacements that only observe: they keep the shared unlock state current (touches, the
// flashlight, the notification list) and change nothing else.
#include "engine/Hooks.h"
#include "engine/PloverKestrel.h"

using namespace ObjC;

namespace Hooks {

void (*savedHandleTapFrom)(id, SEL, id);
void (*savedHandleDoubleTapFrom)(id, SEL, id);
void (*savedHide)(id, SEL);
void (*savedPostHideSettings)(id, SEL);
void (*savedFlashlightLevelDidChange)(id, SEL, int64_t);
void (*savedViewWillAppear)(id, SEL, BOOL);
id (*savedNotificationListInit)(id, SEL);
id (*savedHitTest)(id, SEL, CGPoint, id);

// A tap, double tap or hiding handled by the always-on window means the touch was the
// always-on display's, not the lock screen's.
void handleTapFrom(id self, SEL cmd, id recognizer)
{
    savedHandleTapFrom(self, cmd, recognizer);
    screenTouched = false;
}

void handleDoubleTapFrom(id self, SEL cmd, id recognizer)
{
    savedHandleDoubleTapFrom(self, cmd, recognizer);
    screenTouched = false;
}

void hide(id self, SEL cmd)
{
    savedHide(self, cmd);
    screenTouched = false;
}

void postHideSettings(id self, SEL cmd)
{
    savedPostHideSettings(self, cmd);
    screenTouched = false;
}

void flashlightLevelDidChange(id self, SEL cmd, int64_t level)
{
    static SEL const setFlashlightOn = sel("setFlashlightOn:");
    savedFlashlightLevelDidChange(self, cmd, level);
    send(PloverKestrel::sharedInstance(), setFlashlightOn, level != 0);
}

void viewWillAppear(id self, SEL cmd, BOOL animated)
{
    savedViewWillAppear(self, cmd, animated);
    screenTouched = false;
}

id notificationListInit(id self, SEL cmd)
{
    static SEL const setNotificationListController = sel("setNotificationListController:");
    // Held across init, which may let its receiver go and answer another object.
    RetainPtr receiver(self);
    id result = savedNotificationListInit(self, cmd);
    // The receiver, not init's result, is what gets recorded.
    send(PloverKestrel::sharedInstance(), setNotificationListController, receiver);
    return result;
}

id hitTest(id self, SEL cmd, CGPoint point, id event)
{
    screenTouched = true;
    return savedHitTest(self, cmd, point, event);
}

} // namespace Hooks
