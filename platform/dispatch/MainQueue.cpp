#include "platform/dispatch/MainQueue.h"

#include <memory>
#include <mutex>

namespace Platform {

namespace {

std::mutex& mainQueueLock()
{
    static auto* lock = new std::mutex;
    return *lock;
}

std::unique_ptr<DispatchQueue>& mainQueueStorage()
{
    // Never destroyed: threads still posting while the process exits must find a live queue.
    static auto* queue = new std::unique_ptr<DispatchQueue>;
    return *queue;
}

} // namespace

DispatchQueue& mainQueue()
{
    std::lock_guard guard(mainQueueLock());
    auto& queue = mainQueueStorage();
    if (!queue)
        queue = std::make_unique<DispatchQueue>(ClockKind::Monotonic);
    return *queue;
}

void resetMainQueue(ClockKind clockKind)
{
    auto fresh = std::make_unique<DispatchQueue>(clockKind);
    std::unique_ptr<DispatchQueue> old;
    {
        std::lock_guard guard(mainQueueLock());
        old = std::exchange(mainQueueStorage(), std::move(fresh));
    }
    // The old queue's tasks are destroyed here, outside the lock, since their captures may
    // themselves touch the main queue.
}

} // namespace Platform
