// The engine's eleven method replacements and their saved implementations, one slot per
// hook, in the order they are installed. Each replacement has the exact type of the method it
// replaces, in the runtime's own types (BOOL where the method has BOOL).
#pragma once

#include "platform/foundation/CoreGraphics.h"
#include "runtime/ObjC.h"

namespace Hooks {

// 1-4: the companion's always-on window.
extern void (*savedHandleTapFrom)(id, SEL, id);
extern void (*savedHandleDoubleTapFrom)(id, SEL, id);
extern void (*savedHide)(id, SEL);
extern void (*savedPostHideSettings)(id, SEL);
void handleTapFrom(id self, SEL, id recognizer);
void handleDoubleTapFrom(id self, SEL, id recognizer);
void hide(id self, SEL);
void postHideSettings(id self, SEL);

// 5: the unlock attempt.
extern BOOL (*savedAttemptUnlock)(id, SEL, id, BOOL, BOOL, id);
BOOL attemptUnlock(id self, SEL, id passcode, BOOL mesa, BOOL finishUIUnlock, id completion);

// 6-7: the quick-actions controller.
extern void (*savedFlashlightLevelDidChange)(id, SEL, int64_t);
extern void (*savedViewWillAppear)(id, SEL, BOOL);
void flashlightLevelDidChange(id self, SEL, int64_t level);
void viewWillAppear(id self, SEL, BOOL animated);

// 8: the home screen's launch.
extern void (*savedApplicationDidFinishLaunching)(id, SEL, id);
void applicationDidFinishLaunching(id self, SEL, id application);

// 9: the notification list controller's init.
extern id (*savedNotificationListInit)(id, SEL);
id notificationListInit(id self, SEL);

// 10: biometric events.
extern void (*savedNotifyObserversOfEvent)(id, SEL, int64_t);
void notifyObserversOfEvent(id self, SEL, int64_t event);

// 11: the cover-sheet window's hit test.
extern id (*savedHitTest)(id, SEL, CGPoint, id);
id hitTest(id self, SEL, CGPoint point, id event);

} // namespace Hooks
