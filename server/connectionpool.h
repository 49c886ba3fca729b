#ifndef ORVELLA_SERVER_CONNECTIONPOOL_H
#define ORVELLA_SERVER_CONNECTIONPOOL_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// One thread per open connection, up to a limit. Threads are started as
// connections need them and kept for later ones. A connection over the limit
// is not queued: tryRun() says no, and the caller turns it away at once.
class ConnectionPool
{
public:
    explicit ConnectionPool(std::size_t maxConnections) : m_max(maxConnections) {}
    ~ConnectionPool();

    // Runs job on a thread of its own; false when maxConnections run already.
    bool tryRun(std::function<void()> job);
    // Waits for the running jobs to end and stops the threads.
    void shutdown();

private:
    void work();

    std::size_t m_max;
    std::size_t m_running = 0; // queued or running
    bool m_shutdown = false;
    std::deque<std::function<void()>> m_jobs;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::vector<std::thread> m_threads;
};

#endif
