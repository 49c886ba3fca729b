#include "router.h"

#include "downloadpage.h"
#include "requesttarget.h"

Router::Router(Settings settings, AlertDesk &alerts)
    : m_settings(std::move(settings)), m_alerts(alerts), m_rates(m_settings.maxRequestsPerSecond)
{
}

Reply Router::handle(const std::string &method, const std::string &target,
                     const std::string &client)
{
    Reply reply;
    {
        std::lock_guard<std::mutex> lock(m_rateMutex);
        if (!m_rates.allow(client, RateLimiter::Clock::now())) {
            reply.status = 429;
            reply.body = "too many requests";
            reply.note = "over the rate per client";
            return reply;
        }
    }
    const std::optional<RequestTarget> parsed = parseRequestTarget(target);
    if (method != "GET" || !parsed) {
        reply.body = "not found";
        return reply;
    }
    if (parsed->path == "/updates/orvemailer.php") {
        const AlertDesk::Answer answer =
            m_alerts.alert(singleParameter(*parsed, "x"), client, WallClock::now());
        reply.status = answer.status;
        reply.body = answer.body;
        reply.note = answer.note;
    } else if (parsed->path == "/updates/lookup.php") {
        reply.status = 200;
        reply.body = updateLookupBody(*parsed, m_settings.latestVersions);
    } else if (parsed->path == "/software/lantrel/") {
        const auto version = m_settings.latestVersions.find(PageProductId);
        reply.status = 200;
        reply.contentType = "text/html; charset=utf-8";
        reply.body = downloadPage(version == m_settings.latestVersions.end() ? std::string()
                                                                             : version->second,
                                  m_settings.downloadUrl);
    } else {
        reply.body = "not found";
    }
    return reply;
}
