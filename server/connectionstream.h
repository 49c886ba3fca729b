#ifndef ORVELLA_SERVER_CONNECTIONSTREAM_H
#define ORVELLA_SERVER_CONNECTIONSTREAM_H

#include "clientslots.h"

#include <chrono>
#include <string>
#include <string_view>

// One client connection: reads request headers with the limits a header
// must keep and writes answers. A header may be at most maxHeaderBytes long
// and must be complete within headerTimeout of the request's start; one
// still incomplete after slowAfter counts as slow and needs a slow slot from
// ClientSlots. A client over any of these gets a short answer (431 or 408)
// and is cut off.
class ConnectionStream
{
public:
    using Milliseconds = std::chrono::milliseconds;
    struct Limits {
        std::size_t maxHeaderBytes = 8192;
        Milliseconds headerTimeout{10000};
        Milliseconds slowAfter{1000};
        Milliseconds keepAliveTimeout{5000};
        Milliseconds writeTimeout{5000};
    };
    enum class CutOff { None, TooLarge, TooSlow, TooManySlow };
    enum class Next { Request, Closed, CutOff };

    // stopFd becomes readable when the server stops; waits then end at once.
    ConnectionStream(int fd, std::string clientIp, int stopFd, const Limits &limits,
                     ClientSlots &slots);
    ~ConnectionStream();
    ConnectionStream(const ConnectionStream &) = delete;
    ConnectionStream &operator=(const ConnectionStream &) = delete;

    // The next request's header, without the bytes that follow it. The first
    // request's clock runs from the connection's start; a later one may be
    // awaited for the keep-alive time, and silence then ends it quietly.
    Next readHead(bool first, std::string &head);
    // Sends all of text within the write timeout.
    bool write(std::string_view text);

    CutOff cutOff() const { return m_cutOff; }
    // Input came that no request has taken (for a lingering close).
    bool unreadInput() const { return !m_buffer.empty(); }
    const std::string &clientIp() const { return m_clientIp; }

private:
    enum class Wait { Ready, TimedOut, Closed };
    Wait waitReadable(std::chrono::steady_clock::time_point until) const;
    bool receive();
    void cut(CutOff why);
    void endSlow(bool timedOut = false);

    int m_fd;
    int m_stopFd;
    Limits m_limits;
    ClientSlots &m_slots;
    std::string m_clientIp;
    std::chrono::steady_clock::time_point m_opened;
    std::string m_buffer;
    bool m_slow = false;
    CutOff m_cutOff = CutOff::None;
};

// The numeric address and port of a socket's peer or own end; IPv4 addresses
// mapped into IPv6 are shown as IPv4.
void socketAddress(int fd, bool peer, std::string &ip, int &port);

#endif
