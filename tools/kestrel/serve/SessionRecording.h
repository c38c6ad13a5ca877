// The session so far as a scenario file that `kestrel run` replays on a fresh device:
// the device's set-up, the commands in the order they ran with `wait`s for the time
// between them, and checks for what the device did (every unlock attempt, every
// decision, and the lock screen and the device at the end).
#pragma once

#include "tools/kestrel/scenario/DeviceSession.h"

#include <optional>
#include <string>
#include <vector>

namespace Kestrel {

struct SessionRecord {
    bool realTime { true };
    // Lines that give a fresh device the set-up this one had before boot.
    std::vector<std::string> setUp;
    std::vector<DeviceSession::AcceptedCommand> commands;
    std::vector<SessionEvent> events; // all of them, in order
    std::optional<SessionState> finalState;
};

std::string recordScenario(const SessionRecord&);

// The set-up lines for the device at root as it is now: its companion library, whether
// Kestrel is installed, and its settings file entry by entry (what a scenario cannot
// write is named in a comment).
std::vector<std::string> deviceSetUp(const std::string& root);

} // namespace Kestrel
