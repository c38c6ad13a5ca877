#include "platform/dispatch/DispatchQueue.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <string>

namespace Platform {

namespace {

constexpr int64_t maxTime = std::numeric_limits<int64_t>::max();

// steady_clock is CLOCK_MONOTONIC on Linux; using it for both reading and waiting keeps the
// two on one time base.
int64_t monotonicNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::chrono::steady_clock::time_point monotonicTimePoint(int64_t nanoseconds)
{
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(nanoseconds));
}

int64_t saturatingAdd(int64_t a, int64_t b)
{
    int64_t sum;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? maxTime : std::numeric_limits<int64_t>::min();
    return sum;
}

} // namespace

DispatchQueue::DispatchQueue(ClockKind clockKind)
    : m_clockKind(clockKind)
{
}

int64_t DispatchQueue::nowLocked() const { return m_clockKind == ClockKind::Virtual ? m_virtualNow : monotonicNow(); }

int64_t DispatchQueue::now() const
{
    if (m_clockKind == ClockKind::Monotonic)
        return monotonicNow();
    std::lock_guard guard(m_lock);
    return m_virtualNow;
}

void DispatchQueue::enqueue(int64_t deadline, Task task)
{
    m_tasks.emplace(Key { deadline, m_nextSequence++ }, std::move(task));
}

void DispatchQueue::async(Task task)
{
    {
        std::lock_guard guard(m_lock);
        enqueue(nowLocked(), std::move(task));
    }
    m_wakeUp.notify_all();
}

void DispatchQueue::after(int64_t delayNanoseconds, Task task)
{
    if (delayNanoseconds <= 0) {
        async(std::move(task));
        return;
    }
    {
        std::lock_guard guard(m_lock);
        int64_t deadline;
        // INT64_MAX is "forever": a task due then or later would never fall due.
        if (__builtin_add_overflow(nowLocked(), delayNanoseconds, &deadline) || deadline == maxTime)
            return;
        enqueue(deadline, std::move(task));
    }
    m_wakeUp.notify_all();
}

std::optional<int64_t> DispatchQueue::nextDeadline() const
{
    std::lock_guard guard(m_lock);
    if (m_tasks.empty())
        return std::nullopt;
    return m_tasks.begin()->first.first;
}

size_t DispatchQueue::pendingCount() const
{
    std::lock_guard guard(m_lock);
    return m_tasks.size();
}

std::optional<DispatchQueue::DueTask> DispatchQueue::takeDueLocked(int64_t limit)
{
    if (m_tasks.empty() || m_tasks.begin()->first.first > limit)
        return std::nullopt;
    auto node = m_tasks.extract(m_tasks.begin());
    return DueTask { node.key().first, std::move(node.mapped()) };
}

size_t DispatchQueue::runUntilIdle()
{
    size_t count = 0;
    while (true) {
        std::optional<DueTask> task;
        {
            std::lock_guard guard(m_lock);
            task = takeDueLocked(nowLocked());
        }
        if (!task)
            return count;
        ++count;
        task->task();
    }
}

void DispatchQueue::requireVirtualClock(const char* operation) const
{
    if (m_clockKind != ClockKind::Virtual)
        throw std::logic_error(std::string("DispatchQueue::") + operation + " needs a queue on the virtual clock");
}

void DispatchQueue::setNow(int64_t time)
{
    requireVirtualClock("setNow");
    {
        std::lock_guard guard(m_lock);
        if (time < m_virtualNow)
            throw std::logic_error("DispatchQueue::setNow cannot move the clock backwards");
        m_virtualNow = time;
    }
    m_wakeUp.notify_all();
}

void DispatchQueue::advanceBy(int64_t nanoseconds)
{
    requireVirtualClock("advanceBy");
    if (nanoseconds < 0)
        throw std::logic_error("DispatchQueue::advanceBy cannot move the clock backwards");
    advanceTo(saturatingAdd(now(), nanoseconds));
}

void DispatchQueue::advanceTo(int64_t target)
{
    requireVirtualClock("advanceTo");
    {
        std::lock_guard guard(m_lock);
        if (target < m_virtualNow)
            throw std::logic_error("DispatchQueue::advanceTo cannot move the clock backwards");
    }
    while (true) {
        std::optional<DueTask> task;
        {
            std::lock_guard guard(m_lock);
            task = takeDueLocked(target);
            if (!task) {
                // A task may have advanced the clock further on its own; never go back.
                if (m_virtualNow < target)
                    m_virtualNow = target;
                break;
            }
            if (m_virtualNow < task->deadline)
                m_virtualNow = task->deadline;
        }
        task->task();
    }
    m_wakeUp.notify_all();
}

std::optional<int64_t> DispatchQueue::wakeTimeLocked() const
{
    // On the virtual clock nothing falls due by itself: only a post or an advance wakes us.
    if (m_clockKind == ClockKind::Virtual || m_tasks.empty())
        return std::nullopt;
    return m_tasks.begin()->first.first;
}

void DispatchQueue::run()
{
    while (true) {
        std::optional<DueTask> task;
        {
            std::unique_lock lock(m_lock);
            while (true) {
                if (m_stopRequested) {
                    m_stopRequested = false;
                    return;
                }
                task = takeDueLocked(nowLocked());
                if (task)
                    break;
                if (auto wakeTime = wakeTimeLocked())
                    m_wakeUp.wait_until(lock, monotonicTimePoint(*wakeTime));
                else
                    m_wakeUp.wait(lock);
            }
        }
        task->task();
    }
}

void DispatchQueue::stop()
{
    {
        std::lock_guard guard(m_lock);
        m_stopRequested = true;
    }
    m_wakeUp.notify_all();
}

bool DispatchQueue::runOnce(int64_t timeoutNanoseconds)
{
    int64_t giveUpAt = saturatingAdd(monotonicNow(), std::max<int64_t>(timeoutNanoseconds, 0));
    std::optional<DueTask> task;
    {
        std::unique_lock lock(m_lock);
        while (true) {
            task = takeDueLocked(nowLocked());
            if (task)
                break;
            if (monotonicNow() >= giveUpAt)
                return false;
            int64_t wakeTime = giveUpAt;
            if (auto taskWakeTime = wakeTimeLocked())
                wakeTime = std::min(wakeTime, *taskWakeTime);
            m_wakeUp.wait_until(lock, monotonicTimePoint(wakeTime));
        }
    }
    task->task();
    return true;
}

} // namespace Platform
