#ifndef ORVELLA_SERVER_RATELIMITER_H
#define ORVELLA_SERVER_RATELIMITER_H

#include <chrono>
#include <string>
#include <unordered_map>

// Requests per second per client address, as a token bucket holding one
// second's worth: a client may burst up to the rate, then keeps to it.
class RateLimiter
{
public:
    using Clock = std::chrono::steady_clock;

    explicit RateLimiter(int perSecond) : m_perSecond(perSecond) {}

    bool allow(const std::string &client, Clock::time_point now);
    std::size_t clients() const { return m_buckets.size(); }

private:
    struct Bucket {
        double tokens;
        Clock::time_point last;
    };
    void forgetIdle(Clock::time_point now);

    double m_perSecond;
    std::unordered_map<std::string, Bucket> m_buckets;
    std::size_t m_callsSincePrune = 0;
};

#endif
