// The device's timeline as the server keeps it, for the event streams to follow: every
// event since before boot, in order, as the typed and narrated JSON the page reads. A feed
// follows a session (each event is typed and narrated as it is published, and the events
// themselves are kept for the session recording), or is filled by add() with messages that
// another server already made (the compare view's second device). Subscribing is cheap for
// the session: a listener only types, narrates and appends.
#pragma once

#include "tools/kestrel/scenario/DeviceSession.h"
#include "tools/kestrel/serve/EventNarrator.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Kestrel {

class TimelineFeed {
public:
    struct Message {
        uint64_t sequence { 0 };
        std::string data; // one line of JSON
    };

    TimelineFeed();
    TimelineFeed(DeviceSession&, EventNarrator::Sources);
    ~TimelineFeed();
    TimelineFeed(const TimelineFeed&) = delete;
    TimelineFeed& operator=(const TimelineFeed&) = delete;

    // A message made elsewhere; sequence numbers must rise.
    void add(uint64_t sequence, std::string data);
    // The pane's labels of the settings keys, for the sentences that name a setting.
    void setLabels(std::map<std::string, std::string>);

    // The messages after the one with sequence number `after` (0: all of them).
    // Waits up to timeout for the first; empty when none came or the feed has stopped.
    std::vector<Message> waitAfter(uint64_t after, std::chrono::milliseconds timeout);
    // The session's events (none for a feed filled by add()).
    std::vector<SessionEvent> all();
    // The sequence number of the latest message (0 before the first).
    uint64_t lastSequence();

    // Wakes every waiter; waits return at once from now on.
    void stop();
    bool stopped();

private:
    void append(Message); // with the lock held

    DeviceSession* m_session { nullptr };
    int m_subscription { 0 };
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::unique_ptr<EventNarrator> m_narrator;
    std::vector<SessionEvent> m_events;
    std::vector<Message> m_messages;
    bool m_stopped { false };
};

} // namespace Kestrel
