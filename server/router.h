#ifndef ORVELLA_SERVER_ROUTER_H
#define ORVELLA_SERVER_ROUTER_H

#include "alertdesk.h"
#include "ratelimiter.h"
#include "updatelookup.h"

#include <mutex>
#include <string>

struct Reply {
    int status = 404;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::string note; // for the log
};

// Answers the three requests the program sends; everything else is 404.
class Router
{
public:
    struct Settings {
        int maxRequestsPerSecond = 20;
        LatestVersions latestVersions;
        std::string downloadUrl;
    };

    Router(Settings settings, AlertDesk &alerts);

    Reply handle(const std::string &method, const std::string &target, const std::string &client);

private:
    Settings m_settings;
    AlertDesk &m_alerts;
    std::mutex m_rateMutex;
    RateLimiter m_rates;
};

// The product whose latest version the download page shows.
constexpr const char *PageProductId = "6";

#endif
