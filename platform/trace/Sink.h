// The process-wide sinks (the timeline, the trace hook) are one kind of thing: a single
// listener, replaced whole. Deliveries are serialised, so the listener sees one at a time and
// may deliver more itself (on its own thread); once set() returns, the listener it replaced is
// never called again, so a listener may capture state that dies right after. With nobody
// listening a delivery costs one atomic load. Never destroyed: threads that outlive main (child
// reapers) may still deliver.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

namespace Platform {

template <typename... Arguments> class Sink {
public:
    using Listener = std::function<void(Arguments...)>;

    // Must not be called from inside the listener.
    void set(Listener listener)
    {
        std::lock_guard guard(m_lock);
        m_listener = std::move(listener);
        m_listening.store(bool(m_listener), std::memory_order_release);
    }

    bool listening() const { return m_listening.load(std::memory_order_acquire); }

    // Safe from any thread; does nothing without a listener.
    void deliver(Arguments... arguments)
    {
        if (!listening())
            return;
        std::lock_guard guard(m_lock);
        if (m_listener)
            m_listener(arguments...);
    }

private:
    std::recursive_mutex m_lock;
    Listener m_listener;
    std::atomic<bool> m_listening { false };
};

} // namespace Platform
