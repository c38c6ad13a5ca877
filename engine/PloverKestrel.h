// The engine's shared unlock state: one PloverKestrel object, made on first
// use and never released, and two process-wide flags. Everything here is read
// and written on the main thread only; the once-only creation is the only
// synchronisation.
#pragma once

#include "runtime/Runtime.h"

// A touch reached the lock-screen window since the flag was last cleared.
extern bool screenTouched;
// YES only while a delayed-unlock block runs, so the message it re-sends passes through.
extern bool delayedUnlockInProgress;

class PloverKestrel final : public Runtime::NSObject {
public:
    static PloverKestrel& sharedInstance();

    bool flashlightOn() const { return m_flashlightOn; }
    void setFlashlightOn(bool on) { m_flashlightOn = on; }

    // The most recently initialised notification list controller, kept alive.
    Runtime::Object* notificationListController() const { return m_notificationListController.get(); }
    void setNotificationListController(Runtime::Object* controller)
    {
        m_notificationListController = controller;
    }

    // Room for a condition outside this engine to hold the unlock; none does.
    bool externalBlocksUnlock() const { return false; }

    // Runtime message forms of the accessors.
    static Runtime::RefPtr<Runtime::Object> sharedInstanceMessage();
    Runtime::RefPtr<Runtime::Object> notificationListControllerMessage() const { return m_notificationListController; }

    // The instance variables `_flashlightOn` and `_notificationListController`.
    bool m_flashlightOn { false };
    Runtime::RefPtr<Runtime::Object> m_notificationListController;
};
