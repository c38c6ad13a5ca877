// The process-wide main queue: what the system reaches as the main dispatch queue. Its
// tasks run on whichever thread drives it (the host's main thread).
#pragma once

#include "platform/dispatch/DispatchQueue.h"

namespace Platform {

// Created on first use with the monotonic clock.
DispatchQueue& mainQueue();

// Replaces the main queue with a fresh, empty one on the given clock. Meant for the host at
// start-up and for tests, before anything posts: references to the old queue become invalid.
void resetMainQueue(ClockKind);

} // namespace Platform
