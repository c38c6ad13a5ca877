// The engine's shared unlock state: one object of the runtime class PloverKestrel (instance
// variables `_flashlightOn` and `_notificationListController`, the latter strong), made on
// first use and never released, and two process-wide flags. Everything here is read and
// written on the main thread only; the once-only creation is the only synchronisation.
//
// The class answers +sharedInstance, -flashlightOn, -setFlashlightOn:,
// -notificationListController, -setNotificationListController: (which retains) and
// -externalBlocksUnlock (room for a condition outside this engine to hold the unlock; none
// does). It is registered when the library loads.
#pragma once

#include "runtime/ObjC.h"

// A touch reached the lock-screen window since the flag was last cleared.
extern bool screenTouched;
// YES only while a delayed-unlock block runs, so the message it re-sends passes through.
extern bool delayedUnlockInProgress;

class PloverKestrel {
public:
    PloverKestrel() = delete;

    // [PloverKestrel sharedInstance]: made by plain alloc and init on first use.
    static id sharedInstance();
};
