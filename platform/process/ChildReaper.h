// Reaps the children the system starts without waiting for them, so that none is left a
// zombie, and tells whoever asks when each one was reaped.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <sys/types.h>

namespace Platform {

class ChildReaper {
public:
    // waitStatus is as from waitpid; nullopt if the child was reaped by someone else.
    using Observer = std::function<void(pid_t, std::optional<int> waitStatus)>;

    static ChildReaper& shared();

    // Waits for pid on a thread of its own; the caller goes on at once. Never throws.
    void watch(pid_t);

    // Called on the reaper's thread after each reap. Once this returns, the previous observer
    // is never called again. Must not be called from inside the observer.
    void setObserver(Observer);
    uint64_t reapedCount() const;
    // Children handed to watch() so far: every child the process started.
    uint64_t watchedCount() const;

private:
    ChildReaper() = default;
    void reaped(pid_t, std::optional<int> waitStatus);
};

} // namespace Platform
