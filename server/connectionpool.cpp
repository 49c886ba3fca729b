#include "connectionpool.h"

ConnectionPool::~ConnectionPool()
{
    shutdown();
}

bool ConnectionPool::tryRun(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_shutdown || m_running >= m_max)
            return false;
        ++m_running;
        m_jobs.push_back(std::move(job));
        // Every job has a thread: one more when all are taken.
        if (m_threads.size() < m_running)
            m_threads.emplace_back([this] { work(); });
    }
    m_ready.notify_one();
    return true;
}

void ConnectionPool::shutdown()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shutdown = true;
    }
    m_ready.notify_all();
    for (std::thread &thread : m_threads)
        if (thread.joinable())
            thread.join();
}

void ConnectionPool::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_ready.wait(lock, [this] { return m_shutdown || !m_jobs.empty(); });
        if (m_jobs.empty())
            return;
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
        --m_running;
    }
}
