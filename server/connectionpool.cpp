#include "connectionpool.h"

namespace
{
thread_local bool t_rejecting = false;
}

ConnectionPool::ConnectionPool(std::size_t maxConnections) : m_max(maxConnections)
{
    for (std::size_t i = 0; i < maxConnections; ++i)
        m_threads.emplace_back([this] { work(); });
}

ConnectionPool::~ConnectionPool()
{
    shutdown();
}

bool ConnectionPool::rejecting()
{
    return t_rejecting;
}

void ConnectionPool::enqueue(std::function<void()> fn)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_open < m_max) {
            ++m_open;
            m_jobs.push_back(std::move(fn));
            m_ready.notify_one();
            return;
        }
    }
    t_rejecting = true;
    fn();
    t_rejecting = false;
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
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_ready.wait(lock, [this] { return m_shutdown || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_open;
    }
}
