#ifndef ORVELLA_SERVER_CONNECTIONPOOL_H
#define ORVELLA_SERVER_CONNECTIONPOOL_H

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The HTTP library's task queue, one thread per open connection up to a
// limit. A connection over the limit is not queued behind the others: it is
// handled at once on the accepting thread with rejecting() true, so that it
// can be turned away without waiting for a free thread.
class ConnectionPool : public httplib::TaskQueue
{
public:
    explicit ConnectionPool(std::size_t maxConnections);
    ~ConnectionPool() override;

    void enqueue(std::function<void()> fn) override;
    void shutdown() override;

    // True on the accepting thread while it turns a connection away.
    static bool rejecting();

private:
    void work();

    std::size_t m_max;
    std::size_t m_open = 0; // queued or running
    bool m_shutdown = false;
    std::deque<std::function<void()>> m_jobs;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::vector<std::thread> m_threads;
};

#endif
