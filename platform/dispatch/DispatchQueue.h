// A serial queue of tasks ordered by deadline: the stand-in for a libdispatch queue, driven
// by one thread, on the monotonic clock or on a virtual clock that moves only when told.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace Platform {

enum class ClockKind { Monotonic, Virtual };

class DispatchQueue {
public:
    using Task = std::function<void()>;

    explicit DispatchQueue(ClockKind);
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    ClockKind clockKind() const { return m_clockKind; }

    // Posting is safe from any thread and wakes a thread waiting in run() or runOnce().
    void async(Task);
    // Due at now() + delay. A delay of zero or less is a plain async. A deadline that would
    // reach INT64_MAX ("forever") or beyond never falls due, so the task is dropped.
    void after(int64_t delayNanoseconds, Task);

    int64_t now() const;
    std::optional<int64_t> nextDeadline() const;
    size_t pendingCount() const;

    // Runs every task due at now(), and the tasks they post that are due at once, until none
    // is due. Works on either clock. Returns the number of tasks run.
    size_t runUntilIdle();

    // Virtual clock only; the clock never moves backwards (a logic_error says so).
    // advanceTo runs the tasks due up to t in deadline order, with the clock at each task's
    // deadline while it runs, then leaves the clock at t. All three may be called from a task.
    void setNow(int64_t);
    void advanceBy(int64_t nanoseconds);
    void advanceTo(int64_t);

    // Runs tasks as they fall due until stop() is called. On the virtual clock only tasks due
    // at the current virtual time run; it still wakes for posts from other threads.
    void run();
    // Ends the current run(), or the next one if none is running. Safe from any thread.
    void stop();
    // Waits up to timeoutNanoseconds of real time for a task to be due and runs that one task.
    // Returns false if nothing ran.
    bool runOnce(int64_t timeoutNanoseconds);

    // An exception escaping a task propagates out of whichever call ran it; the queue stays usable.

private:
    using Key = std::pair<int64_t, uint64_t>; // deadline, submission order
    struct DueTask {
        int64_t deadline;
        Task task;
    };

    void enqueue(int64_t deadline, Task);
    int64_t nowLocked() const;
    // Removes and returns the first task due at or before limit.
    std::optional<DueTask> takeDueLocked(int64_t limit);
    void requireVirtualClock(const char* operation) const;
    std::optional<int64_t> wakeTimeLocked() const;

    const ClockKind m_clockKind;
    mutable std::mutex m_lock;
    std::condition_variable m_wakeUp;
    std::map<Key, Task> m_tasks;
    uint64_t m_nextSequence { 0 };
    int64_t m_virtualNow { 0 };
    bool m_stopRequested { false };
};

} // namespace Platform
