#include "platform/process/ChildReaper.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <mutex>
#include <sys/wait.h>
#include <system_error>
#include <thread>

namespace Platform {

namespace {

// Never destroyed: a reaper thread may wake after the process has begun to exit.
struct ReaperState {
    std::mutex observerLock;
    ChildReaper::Observer observer;
    std::atomic<uint64_t> reapedCount { 0 };
    std::atomic<uint64_t> watchedCount { 0 };
};

ReaperState& reaperState()
{
    static auto* state = new ReaperState;
    return *state;
}

} // namespace

ChildReaper& ChildReaper::shared()
{
    static auto* reaper = new ChildReaper;
    return *reaper;
}

void ChildReaper::watch(pid_t pid)
{
    reaperState().watchedCount.fetch_add(1, std::memory_order_relaxed);
    // Spawns are rare (a restart, a query), so one short-lived thread per child is simplest.
    try {
        std::thread([this, pid] {
            int status = 0;
            pid_t result;
            do
                result = ::waitpid(pid, &status, 0);
            while (result < 0 && errno == EINTR);
            reaped(pid, result == pid ? std::optional<int>(status) : std::nullopt);
        }).detach();
    } catch (const std::exception& error) {
        // No thread (system_error) or no memory for one (bad_alloc): the child stays a zombie
        // until this process ends, which is better than failing the caller's work.
        (void)std::fprintf(
            stderr, "ChildReaper: cannot start a thread to reap process %d: %s\n", static_cast<int>(pid), error.what());
    }
}

void ChildReaper::reaped(pid_t pid, std::optional<int> waitStatus)
{
    auto& state = reaperState();
    std::lock_guard guard(state.observerLock);
    state.reapedCount.fetch_add(1, std::memory_order_relaxed);
    if (state.observer)
        state.observer(pid, waitStatus);
}

void ChildReaper::setObserver(Observer observer)
{
    auto& state = reaperState();
    std::lock_guard guard(state.observerLock);
    state.observer = std::move(observer);
}

uint64_t ChildReaper::reapedCount() const { return reaperState().reapedCount.load(std::memory_order_relaxed); }

uint64_t ChildReaper::watchedCount() const { return reaperState().watchedCount.load(std::memory_order_relaxed); }

} // namespace Platform
