#include "capturestatus.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

CaptureStatus::CaptureStatus() : m_descriptor(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CaptureStatus::~CaptureStatus()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

void CaptureStatus::setDone(bool done)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (done == m_done || m_descriptor < 0)
        return;
    m_done = done;
    // The counter is 1 while done and 0 otherwise: one write, one read.
    std::uint64_t count = 1;
    ssize_t n;
    do
        n = done ? ::write(m_descriptor, &count, sizeof count)
                 : ::read(m_descriptor, &count, sizeof count);
    while (n < 0 && errno == EINTR);
}

void CaptureStatus::setFailure(const std::string &line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failure = line;
}

std::string CaptureStatus::failure() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failure;
}
