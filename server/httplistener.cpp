#include "httplistener.h"

#include "connectionpool.h"
#include "logline.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

// The connection a worker thread is serving, and what the router said about
// its current request, for the log line the library's logger writes.
thread_local ConnectionStream *t_connection = nullptr;
thread_local std::string t_note;

const std::size_t keepAliveRequests = 100;

// Closes after a cut-off without discarding the answer: unread input would
// make the kernel reset the connection, and the client might lose the answer.
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

const char busyAnswer[] = "HTTP/1.1 503 Service Unavailable\r\n"
                          "Content-Type: text/plain; charset=utf-8\r\n"
                          "Content-Length: 5\r\nConnection: close\r\n\r\nbusy\n";

} // namespace

HttpListener::HttpListener(Router &router, const ConnectionStream::Limits &limits,
                           std::size_t maxConnections, std::size_t maxPerClient)
    : m_router(router), m_limits(limits), m_stopFd(::eventfd(0, EFD_CLOEXEC)),
      m_maxPerClient(maxPerClient)
{
    new_task_queue = [maxConnections] { return new ConnectionPool(maxConnections); };
    set_payload_max_length(limits.maxHeaderBytes);
    set_keep_alive_max_count(keepAliveRequests);
    set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &response) {
        handle(request, response);
        return HandlerResponse::Handled;
    });
    set_logger([this](const httplib::Request &request, const httplib::Response &response) {
        logRequest(request, response);
    });
}

HttpListener::~HttpListener()
{
    if (m_stopFd >= 0)
        ::close(m_stopFd);
}

bool HttpListener::open(const ListenAddress &address, int &boundPort, std::string &error)
{
    errno = 0;
    if (address.port == 0) {
        boundPort = bind_to_any_port(address.host);
        if (boundPort <= 0) {
            error = std::strerror(errno ? errno : EADDRNOTAVAIL);
            return false;
        }
    } else {
        if (!bind_to_port(address.host, address.port)) {
            error = std::strerror(errno ? errno : EADDRNOTAVAIL);
            return false;
        }
        boundPort = address.port;
    }
    // The library listens with a backlog of 5, too short for a burst of
    // alert requests on fresh connections; listen() again only lengthens it.
    ::listen(svr_sock_, 1024);
    return true;
}

bool HttpListener::serve()
{
    return listen_after_bind();
}

void HttpListener::stopServing()
{
    const uint64_t one = 1;
    if (::write(m_stopFd, &one, sizeof one) < 0)
        logLine("cannot signal the connections to stop");
    stop();
}

bool HttpListener::admit(const std::string &client)
{
    std::lock_guard<std::mutex> lock(m_clientsMutex);
    std::size_t &open = m_openPerClient[client];
    if (open >= m_maxPerClient)
        return false;
    ++open;
    return true;
}

void HttpListener::release(const std::string &client)
{
    std::lock_guard<std::mutex> lock(m_clientsMutex);
    const auto found = m_openPerClient.find(client);
    if (found != m_openPerClient.end() && --found->second == 0)
        m_openPerClient.erase(found);
}

bool HttpListener::process_and_close_socket(socket_t sock)
{
    std::string ip;
    int port = 0;
    socketAddress(sock, true, ip, port);
    // One client may not take all connections: the others are still served.
    const bool overall = ConnectionPool::rejecting();
    if (overall || !admit(ip)) {
        ::send(sock, busyAnswer, sizeof busyAnswer - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
        ::shutdown(sock, SHUT_WR);
        ::close(sock);
        logLine("request " + ip + " 503 too many open connections" +
                (overall ? "" : " from this client") + ", cut off");
        return false;
    }

    // The library writes head and body separately; without this a kept-alive
    // connection waits for the client's delayed ACK before the body goes.
    const int one = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    ConnectionStream stream(sock, m_stopFd, m_limits);
    t_connection = &stream;
    bool ok = true;
    for (std::size_t left = keepAliveRequests; left > 0; --left) {
        if (!stream.beginRequest(left == keepAliveRequests))
            break;
        bool closed = false;
        t_note.clear();
        ok = process_request(stream, left == 1 || !is_running(), closed, nullptr);
        // A request the library could not read (it answered 400) leaves the
        // connection at an unknown point of the stream: end it.
        if (!ok || closed || stream.cutOff() != ConnectionStream::CutOff::None ||
            stream.closeAfterAnswerWanted() || stream.inHeader())
            break;
    }
    t_connection = nullptr;
    if (stream.cutOff() != ConnectionStream::CutOff::None) {
        lingeringClose(sock);
    } else {
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
    }
    release(ip);
    return ok;
}

void HttpListener::handle(const httplib::Request &request, httplib::Response &response)
{
    std::string client = request.remote_addr;
    if (t_connection) {
        t_connection->headerComplete();
        client = t_connection->clientIp();
        // The body is never read; with it left unread the connection cannot
        // carry another request.
        const std::string length = request.get_header_value("Content-Length");
        if ((!length.empty() && length != "0") || request.has_header("Transfer-Encoding"))
            t_connection->closeAfterAnswer();
    }
    const Reply reply = m_router.handle(request.method, request.target, client);
    response.status = reply.status;
    response.set_content(reply.body, reply.contentType.c_str());
    if (t_connection && t_connection->closeAfterAnswerWanted())
        response.set_header("Connection", "close");
    t_note = reply.note;
}

void HttpListener::logRequest(const httplib::Request &request, const httplib::Response &response)
{
    if (t_connection && t_connection->cutOff() != ConnectionStream::CutOff::None)
        return; // the cut-off wrote its own line
    const std::string client = t_connection ? t_connection->clientIp() : request.remote_addr;
    // A request the library could not parse has neither method nor target.
    const std::string what = request.method.empty()
                                 ? std::string("(unreadable request)")
                                 : printable(request.method, 16) + " " + printable(request.target);
    std::string line = "request " + client + " \"" + what + "\" " + std::to_string(response.status);
    if (!response.body.empty() && response.body.size() < 20)
        line += " " + response.body;
    if (!t_note.empty())
        line += " (" + t_note + ")";
    logLine(line);
}
