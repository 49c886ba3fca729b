#include "httplistener.h"

#include "logline.h"
#include "requesthead.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

const std::size_t keepAliveRequests = 100;
const char plainText[] = "text/plain; charset=utf-8";

// Closes after a cut-off, or with input left unread, without discarding the
// answer: unread input would make the kernel reset the connection, and the
// client might lose the answer.
void lingeringClose(int fd)
{
    ::shutdown(fd, SHUT_WR);
    char sink[4096];
    std::size_t drained = 0;
    pollfd fds = {fd, POLLIN, 0};
    while (drained < 65536 && ::poll(&fds, 1, 1000) == 1) {
        const ssize_t got = ::recv(fd, sink, sizeof sink, 0);
        if (got <= 0)
            break;
        drained += std::size_t(got);
    }
    ::close(fd);
}

int bindAlone(const addrinfo &candidate, std::string &error)
{
    const int fd =
        ::socket(candidate.ai_family, candidate.ai_socktype | SOCK_CLOEXEC, candidate.ai_protocol);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    // SO_REUSEADDR lets a restart bind while old connections linger; unlike
    // SO_REUSEPORT it never lets a second server listen on the same address.
    const int one = 1;
    const int zero = 0;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (candidate.ai_family == AF_INET6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    if (::bind(fd, candidate.ai_addr, candidate.ai_addrlen) != 0 || ::listen(fd, 1024) != 0) {
        error = std::strerror(errno);
        if (errno == EADDRINUSE)
            error += " (is another orvella-server running?)";
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

HttpListener::HttpListener(Router &router, const Limits &limits)
    : m_router(router), m_limits(limits), m_slots(limits.clients), m_pool(limits.maxConnections),
      m_stopFd(::eventfd(0, EFD_CLOEXEC))
{
}

HttpListener::~HttpListener()
{
    m_pool.shutdown();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    if (m_stopFd >= 0)
        ::close(m_stopFd);
}

bool HttpListener::open(const ListenAddress &address, int &boundPort, std::string &error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const std::string port = std::to_string(address.port);
    const int resolved = ::getaddrinfo(address.host.empty() ? nullptr : address.host.c_str(),
                                       port.c_str(), &hints, &found);
    if (resolved != 0) {
        error = ::gai_strerror(resolved);
        return false;
    }
    for (const addrinfo *candidate = found; candidate && m_listenFd < 0;
         candidate = candidate->ai_next)
        m_listenFd = bindAlone(*candidate, error);
    ::freeaddrinfo(found);
    if (m_listenFd < 0)
        return false;
    std::string ip;
    socketAddress(m_listenFd, false, ip, boundPort);
    return true;
}

bool HttpListener::serve()
{
    if (m_listenFd < 0 || m_stopFd < 0)
        return false;
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            logLine(std::string("cannot wait for connections: ") + std::strerror(errno));
            return false;
        }
        if (fds[1].revents & POLLIN)
            return true;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            const int why = errno;
            if (why == EBADF || why == EINVAL || why == ENOTSOCK) {
                logLine(std::string("cannot accept connections: ") + std::strerror(why));
                return false;
            }
            if (why == EMFILE || why == ENFILE || why == ENOBUFS || why == ENOMEM) {
                // Out of descriptors: give the open connections time to end.
                logThrottled("accept failed",
                             std::string("cannot accept a connection: ") + std::strerror(why));
                ::poll(nullptr, 0, 50);
            }
            continue;
        }
        std::string client;
        int port = 0;
        socketAddress(fd, true, client, port);
        switch (m_slots.admit(client, std::chrono::steady_clock::now())) {
        case ClientSlots::Admission::TooManyConnections:
            turnAway(fd, client, "too many open connections from this client");
            continue;
        case ClientSlots::Admission::TooManySlow:
            turnAway(fd, client, "too many slow connections from this client");
            continue;
        case ClientSlots::Admission::Admitted:
            break;
        }
        if (!m_pool.tryRun([this, fd, client] { serveConnection(fd, client); })) {
            m_slots.release(client);
            turnAway(fd, client, "too many open connections");
        }
    }
}

void HttpListener::stopServing()
{
    const uint64_t one = 1;
    if (::write(m_stopFd, &one, sizeof one) < 0)
        logLine("cannot signal the connections to stop");
}

void HttpListener::turnAway(int fd, const std::string &client, const char *why)
{
    // On the accepting thread, so nothing here may wait: what the client sent
    // so far is read only as far as it is there, to spare it a reset.
    static const std::string busy = formatAnswer(503, plainText, "busy\n", false);
    ::send(fd, busy.data(), busy.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    char sink[4096];
    for (int i = 0; i < 16 && ::recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0; ++i) {
    }
    ::close(fd);
    logThrottled("503 busy", "request " + client + " 503 " + why + ", cut off");
}

void HttpListener::serveConnection(int fd, const std::string &client)
{
    // Head and body go in one write, but a kept-alive connection still must
    // not wait for the client's delayed ACK.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    bool linger = false;
    {
        ConnectionStream stream(fd, client, m_stopFd, m_limits.stream, m_slots);
        std::string text;
        for (std::size_t served = 0; served < keepAliveRequests; ++served) {
            const ConnectionStream::Next next = stream.readHead(served == 0, text);
            if (next != ConnectionStream::Next::Request)
                break;
            if (!answer(stream, text, served + 1 == keepAliveRequests))
                break;
        }
        linger = stream.cutOff() != ConnectionStream::CutOff::None || stream.unreadInput();
    }
    if (linger) {
        lingeringClose(fd);
    } else {
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }
    m_slots.release(client);
}

bool HttpListener::answer(ConnectionStream &stream, const std::string &text, bool last)
{
    const std::optional<RequestHead> head = parseRequestHead(text);
    if (!head) {
        // Where this request ends is unknown, so no other can follow it.
        stream.write(formatAnswer(400, plainText, "bad request\n", false));
        logThrottled("400 unreadable",
                     "request " + stream.clientIp() + " \"(unreadable request)\" 400");
        return false;
    }
    // A body is never read; with it left unread the connection cannot carry
    // another request.
    const bool keepAlive = head->keepAlive && !head->hasBody && !last;
    const Reply reply = m_router.handle(head->method, head->target, stream.clientIp());
    const bool written = stream.write(formatAnswer(reply.status, reply.contentType, reply.body,
                                                   keepAlive, head->method == "HEAD"));

    std::string line = "request " + stream.clientIp() + " \"" + printable(head->method, 16) + " " +
                       printable(head->target) + "\" " + std::to_string(reply.status);
    std::string kind = std::to_string(reply.status);
    if (!reply.body.empty() && reply.body.size() < 20) {
        line += " " + reply.body;
        kind += " " + reply.body;
    }
    if (!reply.note.empty())
        line += " (" + reply.note + ")";
    // A mail queued is always logged: the hourly cap bounds those lines.
    if (reply.body == "queued")
        logLine(line);
    else
        logThrottled(kind, line);
    return written && keepAlive;
}
