#include "tools/kestrel/serve/WorkerPool.h"

namespace Kestrel {

WorkerPool::WorkerPool(size_t threads)
{
    for (size_t i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool() { join(); }

void WorkerPool::run(std::function<void()> job)
{
    {
        std::lock_guard guard(m_lock);
        m_jobs.push_back(std::move(job));
    }
    m_ready.notify_one();
}

size_t WorkerPool::busy()
{
    std::lock_guard guard(m_lock);
    return m_running + m_jobs.size();
}

void WorkerPool::join()
{
    {
        std::lock_guard guard(m_lock);
        m_ending = true;
    }
    m_ready.notify_all();
    for (auto& thread : m_threads) {
        if (thread.joinable())
            thread.join();
    }
}

void WorkerPool::work()
{
    std::unique_lock lock(m_lock);
    while (true) {
        m_ready.wait(lock, [&] { return m_ending || !m_jobs.empty(); });
        if (m_jobs.empty())
            return;
        auto job = std::move(m_jobs.front());
        m_jobs.pop_front();
        ++m_running;
        lock.unlock();
        job();
        lock.lock();
        --m_running;
    }
}

} // namespace Kestrel
