// Records every reap the shared child reaper reports while it lives, so a test can wait for a
// child it never waits for itself.
#pragma once

#include "platform/process/ChildReaper.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>

class ReapWatcher {
public:
    ReapWatcher()
    {
        Platform::ChildReaper::shared().setObserver([this](pid_t pid, std::optional<int> status) {
            {
                std::lock_guard guard(m_lock);
                m_reaped[pid] = status;
            }
            m_changed.notify_all();
        });
    }
    ~ReapWatcher() { Platform::ChildReaper::shared().setObserver(nullptr); }
    ReapWatcher(const ReapWatcher&) = delete;
    ReapWatcher& operator=(const ReapWatcher&) = delete;

    // The wait status, once the child is reaped; nullopt if that takes more than 10 s.
    std::optional<std::optional<int>> waitFor(pid_t pid)
    {
        std::unique_lock lock(m_lock);
        if (!m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_reaped.contains(pid); }))
            return std::nullopt;
        return m_reaped[pid];
    }

    bool hasReaped(pid_t pid)
    {
        std::lock_guard guard(m_lock);
        return m_reaped.contains(pid);
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::map<pid_t, std::optional<int>> m_reaped;
};
