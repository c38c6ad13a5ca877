// What the scenario driver can ask of a running SpringBoard: the user's and the
// world's actions (a face, a touch, the flashlight...), moving virtual time,
// and questions about the device's state. One command per line.
#pragma once

#include <string>
#include <string_view>

namespace SpringBoardHost {

struct CommandReply {
    bool ok { true };
    std::string text;
};

// Runs on the main thread. Throws only what the system under test throws.
CommandReply runHostCommand(std::string_view line);

// Creates the lock-screen objects through the runtime, so hooked inits run.
void createLockScreenObjects();
// Sends applicationDidFinishLaunching: to the application object.
void finishLaunching();

} // namespace SpringBoardHost
