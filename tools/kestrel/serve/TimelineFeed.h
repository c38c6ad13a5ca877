// The device's timeline as the server keeps it: every event the session published
// since before boot, in order, for the event streams to follow and for the session
// recording to read. Subscribing is cheap for the session: a listener only appends.
#pragma once

#include "tools/kestrel/scenario/DeviceSession.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace Kestrel {

class TimelineFeed {
public:
    explicit TimelineFeed(DeviceSession&);
    ~TimelineFeed();
    TimelineFeed(const TimelineFeed&) = delete;
    TimelineFeed& operator=(const TimelineFeed&) = delete;

    // The events published after the one with sequence number `after` (0: all of them).
    // Waits up to timeout for the first; empty when none came or the feed has stopped.
    std::vector<SessionEvent> waitAfter(uint64_t after, std::chrono::milliseconds timeout);
    std::vector<SessionEvent> all();
    // The sequence number of the latest event (0 before the first).
    uint64_t lastSequence();

    // Wakes every waiter; waits return at once from now on.
    void stop();
    bool stopped();

private:
    std::vector<SessionEvent> after(uint64_t sequence); // with the lock held

    DeviceSession& m_session;
    int m_subscription { 0 };
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::vector<SessionEvent> m_events;
    bool m_stopped { false };
};

} // namespace Kestrel
