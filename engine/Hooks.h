// The engine's eleven method replacements and their saved implementations,
// one slot per hook, in the order they are installed.
#pragma once

#include "runtime/Runtime.h"
#include "platform/foundation/CoreGraphics.h"

namespace Hooks {

using Runtime::Object;
using Runtime::RefPtr;
using Runtime::SavedImplementation;
using Runtime::Selector;

// 1-4: the companion's always-on window.
extern SavedImplementation<void(Object*)> savedHandleTapFrom;
extern SavedImplementation<void(Object*)> savedHandleDoubleTapFrom;
extern SavedImplementation<void()> savedHide;
extern SavedImplementation<void()> savedPostHideSettings;
void handleTapFrom(Object* self, Selector, Object* recognizer);
void handleDoubleTapFrom(Object* self, Selector, Object* recognizer);
void hide(Object* self, Selector);
void postHideSettings(Object* self, Selector);

// 5: the unlock attempt.
extern SavedImplementation<bool(Object*, bool, bool, Object*)> savedAttemptUnlock;
bool attemptUnlock(Object* self, Selector, Object* passcode, bool mesa, bool finishUIUnlock, Object* completion);

// 6-7: the quick-actions controller.
extern SavedImplementation<void(int64_t)> savedFlashlightLevelDidChange;
extern SavedImplementation<void(bool)> savedViewWillAppear;
void flashlightLevelDidChange(Object* self, Selector, int64_t level);
void viewWillAppear(Object* self, Selector, bool animated);

// 8: the home screen's launch.
extern SavedImplementation<void(Object*)> savedApplicationDidFinishLaunching;
void applicationDidFinishLaunching(Object* self, Selector, Object* application);

// 9: the notification list controller's init.
extern SavedImplementation<RefPtr<Object>()> savedNotificationListInit;
RefPtr<Object> notificationListInit(Object* self, Selector);

// 10: biometric events.
extern SavedImplementation<void(int64_t)> savedNotifyObserversOfEvent;
void notifyObserversOfEvent(Object* self, Selector, int64_t event);

// 11: the cover-sheet window's hit test.
extern SavedImplementation<RefPtr<Object>(CGPoint, Object*)> savedHitTest;
RefPtr<Object> hitTest(Object* self, Selector, CGPoint point, Object* event);

} // namespace Hooks
