// What the driver can ask of a running SpringBoard: the user's and the world's
// actions (a face, a touch, the flashlight...), moving virtual time, and the
// device's state.
#pragma once

#include "host/device/DriverProtocol.h"

namespace SpringBoardHost {

// Runs on the main thread. Throws only what the system under test throws.
Driver::Reply runHostCommand(const Driver::Request&);

// The device as SpringBoard sees it now.
Driver::DeviceState deviceState();

// Creates the lock-screen objects through the runtime, so hooked inits run.
void createLockScreenObjects();
// Sends applicationDidFinishLaunching: to the application object.
void finishLaunching();

} // namespace SpringBoardHost
