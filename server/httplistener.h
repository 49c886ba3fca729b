#ifndef ORVELLA_SERVER_HTTPLISTENER_H
#define ORVELLA_SERVER_HTTPLISTENER_H

#include "clientslots.h"
#include "connectionpool.h"
#include "connectionstream.h"
#include "router.h"
#include "serverconfig.h"

#include <string>

// The HTTP front: accepts connections, keeps the caps on open connections
// (in all and per client) and on slow ones, serves each connection's
// requests on a thread of its own, and writes one log line per request.
class HttpListener
{
public:
    struct Limits {
        ConnectionStream::Limits stream;
        ClientSlots::Limits clients;
        std::size_t maxConnections = 128;
    };

    HttpListener(Router &router, const Limits &limits);
    ~HttpListener();
    HttpListener(const HttpListener &) = delete;
    HttpListener &operator=(const HttpListener &) = delete;

    // Binds and listens, alone on the address: a second server on it fails
    // here. The port actually bound (for port 0) in boundPort.
    bool open(const ListenAddress &address, int &boundPort, std::string &error);
    // Serves until stopServing() is called from another thread.
    bool serve();
    void stopServing();

private:
    void turnAway(int fd, const std::string &client, const char *why);
    void serveConnection(int fd, const std::string &client);
    // Answers one request; false when the connection must end after it.
    bool answer(ConnectionStream &stream, const std::string &text, bool last);

    Router &m_router;
    Limits m_limits;
    ClientSlots m_slots;
    ConnectionPool m_pool;
    int m_listenFd = -1;
    int m_stopFd = -1;
};

#endif
