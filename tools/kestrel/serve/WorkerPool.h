// A fixed set of threads that run the jobs given to them in order of arrival.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Kestrel {

class WorkerPool {
public:
    explicit WorkerPool(size_t threads);
    ~WorkerPool(); // runs the jobs already given, then joins
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void run(std::function<void()>);
    // Jobs running or waiting to run.
    size_t busy();
    // Waits for the jobs given so far and ends the threads. Idempotent.
    void join();

private:
    void work();

    std::mutex m_lock;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_jobs;
    size_t m_running { 0 };
    bool m_ending { false };
    std::vector<std::thread> m_threads;
};

} // namespace Kestrel
