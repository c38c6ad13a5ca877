// The once-only guard: a block that runs exactly once per flag, whichever thread gets there first.
#pragma once

#include <atomic>
#include <mutex>
#include <utility>

namespace Platform {

struct OnceFlag {
    // Runs fn if no call through this flag has completed yet; concurrent callers wait until it
    // has. If fn throws, the flag stays unset and the next caller runs its own block.
    template <typename Fn> void callOnce(Fn&& fn)
    {
        if (m_done.load(std::memory_order_acquire))
            return;
        std::lock_guard guard(m_lock);
        if (m_done.load(std::memory_order_relaxed))
            return;
        std::forward<Fn>(fn)();
        m_done.store(true, std::memory_order_release);
    }

    bool hasRun() const { return m_done.load(std::memory_order_acquire); }

private:
    std::atomic<bool> m_done { false };
    std::mutex m_lock;
};

template <typename Fn> void dispatchOnce(OnceFlag& flag, Fn&& fn) { flag.callOnce(std::forward<Fn>(fn)); }

} // namespace Platform
