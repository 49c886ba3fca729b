#include "connectionstream.h"

#include "logline.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

using Clock = std::chrono::steady_clock;

int toPollTimeout(std::chrono::milliseconds timeout)
{
    if (timeout.count() <= 0)
        return 0;
    return timeout.count() > 3600000 ? 3600000 : int(timeout.count());
}

const char tooLargeAnswer[] = "HTTP/1.1 431 Request Header Fields Too Large\r\n"
                              "Content-Type: text/plain; charset=utf-8\r\n"
                              "Content-Length: 18\r\nConnection: close\r\n\r\n"
                              "request too large\n";
const char tooSlowAnswer[] = "HTTP/1.1 408 Request Timeout\r\n"
                             "Content-Type: text/plain; charset=utf-8\r\n"
                             "Content-Length: 16\r\nConnection: close\r\n\r\n"
                             "request too slow\n";

} // namespace

void socketAddress(int fd, bool peer, std::string &ip, int &port)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int result = peer ? ::getpeername(fd, reinterpret_cast<sockaddr *>(&address), &length)
                            : ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    char host[NI_MAXHOST] = "";
    char service[NI_MAXSERV] = "";
    if (result != 0 ||
        ::getnameinfo(reinterpret_cast<sockaddr *>(&address), length, host, sizeof host, service,
                      sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        ip = "unknown";
        port = 0;
        return;
    }
    ip = host;
    if (ip.rfind("::ffff:", 0) == 0 && ip.find('.') != std::string::npos)
        ip = ip.substr(7);
    port = std::atoi(service);
}

ConnectionStream::ConnectionStream(int fd, int stopFd, const Limits &limits)
    : m_fd(fd), m_stopFd(stopFd), m_limits(limits)
{
    socketAddress(fd, true, m_clientIp, m_clientPort);
}

bool ConnectionStream::beginRequest(bool first)
{
    m_inHeader = true;
    m_headerBytes = 0;
    m_deadline = Clock::now() + m_limits.headerTimeout;
    if (m_cutOff != CutOff::None || m_closed || m_closeAfterAnswer)
        return false;
    if (m_begin < m_end)
        return true; // the next request came with the last one
    // The first request's header clock runs from the connection; a later
    // request's idle wait is the keep-alive time, and silence ends it quietly.
    const Milliseconds wait = first ? m_limits.headerTimeout : m_limits.keepAliveTimeout;
    const Wait waited = waitReadable(wait);
    if (waited == Wait::TimedOut && first)
        cut(CutOff::TooSlow);
    return waited == Wait::Ready;
}

ConnectionStream::Wait ConnectionStream::waitReadable(Milliseconds timeout) const
{
    const Clock::time_point until = Clock::now() + timeout;
    for (;;) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<Milliseconds>(until - Clock::now());
        const int ready = ::poll(fds, m_stopFd >= 0 ? 2 : 1, toPollTimeout(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fds[1].revents & POLLIN))
            return Wait::Closed;
        if (ready == 0)
            return Wait::TimedOut;
        return Wait::Ready;
    }
}

bool ConnectionStream::fill()
{
    if (m_cutOff != CutOff::None || m_closed)
        return false;
    Milliseconds timeout = m_limits.bodyTimeout;
    if (m_inHeader) {
        // Checked before waiting too, so a steady trickle cannot outrun it.
        timeout = std::chrono::duration_cast<Milliseconds>(m_deadline - Clock::now());
        if (timeout.count() <= 0) {
            cut(CutOff::TooSlow);
            return false;
        }
    }
    const Wait waited = waitReadable(timeout);
    if (waited == Wait::TimedOut && m_inHeader) {
        cut(CutOff::TooSlow);
        return false;
    }
    if (waited != Wait::Ready) {
        m_closed = true;
        return false;
    }
    ssize_t got;
    do
        got = ::recv(m_fd, m_buffer, sizeof m_buffer, 0);
    while (got < 0 && errno == EINTR);
    if (got <= 0) {
        m_closed = true;
        return false;
    }
    m_begin = 0;
    m_end = std::size_t(got);
    return true;
}

ssize_t ConnectionStream::read(char *ptr, std::size_t size)
{
    if (m_begin == m_end && !fill())
        return -1;
    std::size_t n = std::min(size, m_end - m_begin);
    if (m_inHeader) {
        if (m_headerBytes >= m_limits.maxHeaderBytes) {
            cut(CutOff::TooLarge);
            return -1;
        }
        n = std::min(n, m_limits.maxHeaderBytes - m_headerBytes);
        m_headerBytes += n;
    }
    std::memcpy(ptr, m_buffer + m_begin, n);
    m_begin += n;
    return ssize_t(n);
}

bool ConnectionStream::is_readable() const
{
    return m_begin < m_end || waitReadable(m_limits.bodyTimeout) == Wait::Ready;
}

bool ConnectionStream::is_writable() const
{
    pollfd fds = {m_fd, POLLOUT, 0};
    return m_cutOff == CutOff::None && ::poll(&fds, 1, toPollTimeout(m_limits.writeTimeout)) == 1 &&
           (fds.revents & POLLOUT);
}

ssize_t ConnectionStream::write(const char *ptr, std::size_t size)
{
    // After a cut-off the library's own error answer must not follow ours.
    if (m_cutOff != CutOff::None || !is_writable())
        return -1;
    ssize_t sent;
    do
        sent = ::send(m_fd, ptr, size, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent;
}

void ConnectionStream::cut(CutOff why)
{
    if (m_cutOff != CutOff::None)
        return;
    const char *answer = why == CutOff::TooLarge ? tooLargeAnswer : tooSlowAnswer;
    const std::size_t length =
        why == CutOff::TooLarge ? sizeof tooLargeAnswer - 1 : sizeof tooSlowAnswer - 1;
    write(answer, length);
    m_cutOff = why;
    logLine("request " + m_clientIp + " " +
            (why == CutOff::TooLarge
                 ? "431 request header over " + std::to_string(m_limits.maxHeaderBytes) + " bytes"
                 : "408 request header not complete in " +
                       std::to_string(m_limits.headerTimeout.count()) + " ms") +
            ", cut off");
}

void ConnectionStream::get_remote_ip_and_port(std::string &ip, int &port) const
{
    ip = m_clientIp;
    port = m_clientPort;
}

void ConnectionStream::get_local_ip_and_port(std::string &ip, int &port) const
{
    socketAddress(m_fd, false, ip, port);
}
