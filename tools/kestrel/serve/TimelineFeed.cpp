#include "tools/kestrel/serve/TimelineFeed.h"

#include "tools/kestrel/serve/EventJson.h"
#include "tools/kestrel/serve/ServeJson.h"

#include <algorithm>

namespace Kestrel {

TimelineFeed::TimelineFeed() = default;

TimelineFeed::TimelineFeed(DeviceSession& session, EventNarrator::Sources sources)
    : m_session(&session)
    , m_narrator(std::make_unique<EventNarrator>(std::move(sources)))
{
    m_subscription = m_session->subscribe([this](const SessionEvent& event) {
        auto object = eventJson(event);
        {
            std::lock_guard guard(m_lock);
            m_narrator->narrate(object);
            m_events.push_back(event);
            std::string line = jsonLine(object);
            line.pop_back();
            append({ event.sequence, std::move(line) });
        }
        m_arrived.notify_all();
    });
}

TimelineFeed::~TimelineFeed()
{
    if (m_session)
        m_session->unsubscribe(m_subscription);
    stop();
}

void TimelineFeed::append(Message message) { m_messages.push_back(std::move(message)); }

void TimelineFeed::add(uint64_t sequence, std::string data)
{
    {
        std::lock_guard guard(m_lock);
        if (!m_messages.empty() && sequence <= m_messages.back().sequence)
            return;
        append({ sequence, std::move(data) });
    }
    m_arrived.notify_all();
}

void TimelineFeed::setLabels(std::map<std::string, std::string> labels)
{
    std::lock_guard guard(m_lock);
    if (m_narrator)
        m_narrator->setLabels(std::move(labels));
}

std::vector<TimelineFeed::Message> TimelineFeed::waitAfter(uint64_t sequence, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_lock);
    m_arrived.wait_for(
        lock, timeout, [&] { return m_stopped || (!m_messages.empty() && m_messages.back().sequence > sequence); });
    if (m_stopped)
        return {};
    // Sequence numbers rise with the position, so the first newer message is found by halving.
    auto first = std::upper_bound(m_messages.begin(), m_messages.end(), sequence,
        [](uint64_t wanted, const Message& message) { return wanted < message.sequence; });
    return { first, m_messages.end() };
}

std::vector<SessionEvent> TimelineFeed::all()
{
    std::lock_guard guard(m_lock);
    return m_events;
}

uint64_t TimelineFeed::lastSequence()
{
    std::lock_guard guard(m_lock);
    return m_messages.empty() ? 0 : m_messages.back().sequence;
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
