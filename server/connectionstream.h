#ifndef ORVELLA_SERVER_CONNECTIONSTREAM_H
#define ORVELLA_SERVER_CONNECTIONSTREAM_H

#include <httplib.h>

#include <chrono>
#include <string>

// One client connection as the HTTP library reads and writes it, with the
// limits the library lacks: a request header may be at most maxHeaderBytes
// long and must be complete within headerTimeout of the request's start.
// A client over either limit gets a short answer (431 or 408) and is cut off.
class ConnectionStream : public httplib::Stream
{
public:
    using Milliseconds = std::chrono::milliseconds;
    struct Limits {
        std::size_t maxHeaderBytes = 8192;
        Milliseconds headerTimeout{10000};
        Milliseconds keepAliveTimeout{5000};
        Milliseconds writeTimeout{5000};
        Milliseconds bodyTimeout{5000};
    };
    enum class CutOff { None, TooLarge, TooSlow };

    // stopFd becomes readable when the server stops; reads then end at once.
    ConnectionStream(int fd, int stopFd, const Limits &limits);

    // Starts a request: its header clock and byte count begin now. Then waits
    // for its first byte (for a later request on the connection, at most the
    // keep-alive time). False when none comes.
    bool beginRequest(bool first);
    // The library has read the whole header.
    void headerComplete() { m_inHeader = false; }
    bool inHeader() const { return m_inHeader; }

    CutOff cutOff() const { return m_cutOff; }
    const std::string &clientIp() const { return m_clientIp; }
    // Ends the connection after the current answer.
    void closeAfterAnswer() { m_closeAfterAnswer = true; }
    bool closeAfterAnswerWanted() const { return m_closeAfterAnswer; }

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char *ptr, std::size_t size) override;
    ssize_t write(const char *ptr, std::size_t size) override;
    void get_remote_ip_and_port(std::string &ip, int &port) const override;
    void get_local_ip_and_port(std::string &ip, int &port) const override;
    socket_t socket() const override { return m_fd; }

private:
    enum class Wait { Ready, TimedOut, Closed };
    Wait waitReadable(Milliseconds timeout) const;
    bool fill();
    void cut(CutOff why);

    int m_fd;
    int m_stopFd;
    Limits m_limits;
    std::string m_clientIp;
    int m_clientPort = 0;

    char m_buffer[4096];
    std::size_t m_begin = 0;
    std::size_t m_end = 0;

    bool m_inHeader = false;
    std::size_t m_headerBytes = 0;
    std::chrono::steady_clock::time_point m_deadline;
    CutOff m_cutOff = CutOff::None;
    bool m_closed = false;
    bool m_closeAfterAnswer = false;
};

// The numeric address and port of a socket's peer or own end; IPv4 addresses
// mapped into IPv6 are shown as IPv4.
void socketAddress(int fd, bool peer, std::string &ip, int &port);

#endif
