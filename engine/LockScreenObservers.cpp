// Replacements that only observe: they keep the shared unlock state current
// (touches, the flashlight, the notification list) and change nothing else.
#include "engine/Hooks.h"
#include "engine/PloverKestrel.h"

using namespace Runtime;

namespace Hooks {

SavedImplementation<void(Object*)> savedHandleTapFrom;
SavedImplementation<void(Object*)> savedHandleDoubleTapFrom;
SavedImplementation<void()> savedHide;
SavedImplementation<void()> savedPostHideSettings;
SavedImplementation<void(int64_t)> savedFlashlightLevelDidChange;
SavedImplementation<void(bool)> savedViewWillAppear;
SavedImplementation<RefPtr<Object>()> savedNotificationListInit;
SavedImplementation<RefPtr<Object>(CGPoint, Object*)> savedHitTest;

// A tap, double tap or hiding handled by the always-on window means the touch
// was the always-on display's, not the lock screen's.
void handleTapFrom(Object* self, Selector cmd, Object* recognizer)
{
    savedHandleTapFrom(self, cmd, recognizer);
    screenTouched = false;
}

void handleDoubleTapFrom(Object* self, Selector cmd, Object* recognizer)
{
    savedHandleDoubleTapFrom(self, cmd, recognizer);
    screenTouched = false;
}

void hide(Object* self, Selector cmd)
{
    savedHide(self, cmd);
    screenTouched = false;
}

void postHideSettings(Object* self, Selector cmd)
{
    savedPostHideSettings(self, cmd);
    screenTouched = false;
}

void flashlightLevelDidChange(Object* self, Selector cmd, int64_t level)
{
    savedFlashlightLevelDidChange(self, cmd, level);
    PloverKestrel::sharedInstance().setFlashlightOn(level != 0);
}

void viewWillAppear(Object* self, Selector cmd, bool animated)
{
    savedViewWillAppear(self, cmd, animated);
    screenTouched = false;
}

RefPtr<Object> notificationListInit(Object* self, Selector cmd)
{
    RefPtr<Object> receiver(self);
    auto result = savedNotificationListInit(receiver.get(), cmd);
    // The receiver, not init's result, is what gets recorded.
    PloverKestrel::sharedInstance().setNotificationListController(receiver.get());
    return result;
}

RefPtr<Object> hitTest(Object* self, Selector cmd, CGPoint point, Object* event)
{
    screenTouched = true;
    return savedHitTest(self, cmd, point, event);
}

} // namespace Hooks
