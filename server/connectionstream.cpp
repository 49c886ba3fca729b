#include "connectionstream.h"

#include "logline.h"
#include "requesthead.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

using Clock = std::chrono::steady_clock;

int pollTimeout(Clock::time_point until)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > 3600000 ? 3600000 : int(left);
}

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

ConnectionStream::ConnectionStream(int fd, std::string clientIp, int stopFd, const Limits &limits,
                                   ClientSlots &slots)
    : m_fd(fd), m_stopFd(stopFd), m_limits(limits), m_slots(slots), m_clientIp(std::move(clientIp)),
      m_opened(Clock::now())
{
    m_buffer.reserve(m_limits.maxHeaderBytes);
}

ConnectionStream::~ConnectionStream()
{
    endSlow();
}

void ConnectionStream::endSlow(bool timedOut)
{
    // Cut off at the header timeout, its slot stays taken as long again.
    if (m_slow)
        m_slots.releaseSlow(m_clientIp,
                            timedOut ? Clock::now() + m_limits.headerTimeout : Clock::time_point());
    m_slow = false;
}

ConnectionStream::Next ConnectionStream::readHead(bool first, std::string &head)
{
    if (m_cutOff != CutOff::None)
        return Next::CutOff;
    Clock::time_point start = m_opened;
    if (!first) {
        if (m_buffer.empty()) {
            if (waitReadable(Clock::now() + m_limits.keepAliveTimeout) != Wait::Ready || !receive())
                return Next::Closed;
        }
        start = Clock::now();
    }
    const Clock::time_point deadline = start + m_limits.headerTimeout;
    const Clock::time_point slowAt = start + std::min(m_limits.slowAfter, m_limits.headerTimeout);
    for (;;) {
        // Empty lines before a request are allowed and skipped.
        std::size_t blank = 0;
        while (blank < m_buffer.size() && (m_buffer[blank] == '\r' || m_buffer[blank] == '\n'))
            ++blank;
        m_buffer.erase(0, blank);

        const std::size_t length = requestHeadLength(m_buffer);
        if (length > m_limits.maxHeaderBytes ||
            (length == 0 && m_buffer.size() >= m_limits.maxHeaderBytes)) {
            cut(CutOff::TooLarge);
            return Next::CutOff;
        }
        if (length > 0) {
            head.assign(m_buffer, 0, length);
            m_buffer.erase(0, length);
            endSlow();
            return Next::Request;
        }
        // Checked before each wait, so a steady trickle cannot outrun them.
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            cut(CutOff::TooSlow);
            return Next::CutOff;
        }
        if (now >= slowAt && !m_slow) {
            if (!m_slots.takeSlow(m_clientIp, now)) {
                cut(CutOff::TooManySlow);
                return Next::CutOff;
            }
            m_slow = true;
        }
        const Wait waited = waitReadable(m_slow ? deadline : std::min(deadline, slowAt));
        if (waited == Wait::Closed)
            return Next::Closed;
        if (waited == Wait::Ready && !receive())
            return Next::Closed;
    }
}

ConnectionStream::Wait ConnectionStream::waitReadable(Clock::time_point until) const
{
    for (;;) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        const int ready = ::poll(fds, m_stopFd >= 0 ? 2 : 1, pollTimeout(until));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fds[1].revents & POLLIN))
            return Wait::Closed;
        if (ready == 0)
            return Wait::TimedOut;
        return Wait::Ready;
    }
}

bool ConnectionStream::receive()
{
    char chunk[8192];
    const std::size_t room =
        m_buffer.size() < m_limits.maxHeaderBytes ? m_limits.maxHeaderBytes - m_buffer.size() : 0;
    const std::size_t wanted = room < sizeof chunk ? room : sizeof chunk;
    if (wanted == 0)
        return true;
    ssize_t got;
    do
        got = ::recv(m_fd, chunk, wanted, 0);
    while (got < 0 && errno == EINTR);
    if (got <= 0)
        return false;
    m_buffer.append(chunk, std::size_t(got));
    return true;
}

bool ConnectionStream::write(std::string_view text)
{
    const Clock::time_point until = Clock::now() + m_limits.writeTimeout;
    while (!text.empty()) {
        pollfd fds = {m_fd, POLLOUT, 0};
        const int ready = ::poll(&fds, 1, pollTimeout(until));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready != 1 || !(fds.revents & POLLOUT))
            return false;
        const ssize_t sent = ::send(m_fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (sent <= 0)
            return false;
        text.remove_prefix(std::size_t(sent));
    }
    return true;
}

void ConnectionStream::cut(CutOff why)
{
    if (m_cutOff != CutOff::None)
        return;
    const bool large = why == CutOff::TooLarge;
    write(large ? formatAnswer(431, "text/plain; charset=utf-8", "request too large\n", false)
                : formatAnswer(408, "text/plain; charset=utf-8", "request too slow\n", false));
    m_cutOff = why;
    std::string reason;
    switch (why) {
    case CutOff::TooLarge:
        reason = "431 request header over " + std::to_string(m_limits.maxHeaderBytes) + " bytes";
        break;
    case CutOff::TooSlow:
        reason = "408 request header not complete in " +
                 std::to_string(m_limits.headerTimeout.count()) + " ms";
        break;
    default:
        reason = "408 request header not complete in " +
                 std::to_string(m_limits.slowAfter.count()) + " ms with " +
                 std::to_string(m_slots.limits().slowPerClient) +
                 " slow connection(s) from this client or " +
                 std::to_string(m_slots.limits().slowTotal) + " in all already open";
        break;
    }
    endSlow(why == CutOff::TooSlow);
    logThrottled(reason.substr(0, 3) + " cut off",
                 "request " + m_clientIp + " " + reason + ", cut off");
}
