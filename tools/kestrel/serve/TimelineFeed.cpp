#include "tools/kestrel/serve/TimelineFeed.h"

#include <algorithm>

namespace Kestrel {

TimelineFeed::TimelineFeed(DeviceSession& session)
    : m_session(session)
{
    m_subscription = m_session.subscribe([this](const SessionEvent& event) {
        {
            std::lock_guard guard(m_lock);
            m_events.push_back(event);
        }
        m_arrived.notify_all();
    });
}

TimelineFeed::~TimelineFeed()
{
    m_session.unsubscribe(m_subscription);
    stop();
}

std::vector<SessionEvent> TimelineFeed::after(uint64_t sequence)
{
    // Sequence numbers rise with the position, so the first newer event is found by halving.
    auto first = std::upper_bound(m_events.begin(), m_events.end(), sequence,
        [](uint64_t wanted, const SessionEvent& event) { return wanted < event.sequence; });
    return { first, m_events.end() };
}

std::vector<SessionEvent> TimelineFeed::waitAfter(uint64_t sequence, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_lock);
    m_arrived.wait_for(
        lock, timeout, [&] { return m_stopped || (!m_events.empty() && m_events.back().sequence > sequence); });
    if (m_stopped)
        return {};
    return after(sequence);
}

std::vector<SessionEvent> TimelineFeed::all()
{
    std::lock_guard guard(m_lock);
    return m_events;
}

uint64_t TimelineFeed::lastSequence()
{
    std::lock_guard guard(m_lock);
    return m_events.empty() ? 0 : m_events.back().sequence;
}

void TimelineFeed::stop()
{
    {
        std::lock_guard guard(m_lock);
        m_stopped = true;
    }
    m_arrived.notify_all();
}

bool TimelineFeed::stopped()
{
    std::lock_guard guard(m_lock);
    return m_stopped;
}

} // namespace Kestrel
