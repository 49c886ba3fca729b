#ifndef ORVELLA_SERVER_HTTPLISTENER_H
#define ORVELLA_SERVER_HTTPLISTENER_H

#include "connectionstream.h"
#include "router.h"
#include "serverconfig.h"

#include <httplib.h>

#include <mutex>
#include <string>
#include <unordered_map>

// The HTTP front: the library parses requests and writes answers; this class
// owns each connection's life (limits, keep-alive, cut-offs, the cap on open
// connections) and writes one log line per request.
class HttpListener : public httplib::Server
{
public:
    HttpListener(Router &router, const ConnectionStream::Limits &limits, std::size_t maxConnections,
                 std::size_t maxPerClient);
    ~HttpListener() override;

    // Binds and listens; the port actually bound (for port 0) in boundPort.
    bool open(const ListenAddress &address, int &boundPort, std::string &error);
    // Serves until stopServing() is called from another thread.
    bool serve();
    void stopServing();

private:
    bool process_and_close_socket(socket_t sock) override;
    void handle(const httplib::Request &request, httplib::Response &response);
    void logRequest(const httplib::Request &request, const httplib::Response &response);
    // Counts a connection from the client; false when it has too many open.
    bool admit(const std::string &client);
    void release(const std::string &client);

    Router &m_router;
    ConnectionStream::Limits m_limits;
    int m_stopFd = -1;
    std::size_t m_maxPerClient;
    std::mutex m_clientsMutex;
    std::unordered_map<std::string, std::size_t> m_openPerClient;
};

#endif
