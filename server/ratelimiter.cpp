#include "ratelimiter.h"

#include <algorithm>

bool RateLimiter::allow(const std::string &client, Clock::time_point now)
{
    if (++m_callsSincePrune >= 4096) {
        forgetIdle(now);
        m_callsSincePrune = 0;
    }
    auto found = m_buckets.find(client);
    if (found == m_buckets.end())
        found = m_buckets.emplace(client, Bucket{m_perSecond, now}).first;
    Bucket &bucket = found->second;
    const double elapsed = std::chrono::duration<double>(now - bucket.last).count();
    bucket.tokens = std::min(m_perSecond, bucket.tokens + std::max(0.0, elapsed) * m_perSecond);
    bucket.last = now;
    if (bucket.tokens < 1.0)
        return false;
    bucket.tokens -= 1.0;
    return true;
}

void RateLimiter::forgetIdle(Clock::time_point now)
{
    // A client silent for a second has a full bucket again: forgetting it
    // changes nothing, and keeps the table as small as the busy clients.
    for (auto it = m_buckets.begin(); it != m_buckets.end();) {
        if (now - it->second.last >= std::chrono::seconds(1))
            it = m_buckets.erase(it);
        else
            ++it;
    }
}
