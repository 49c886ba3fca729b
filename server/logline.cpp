#include "logline.h"

#include "writeall.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unistd.h>

namespace
{

// Counts of one kind in the current minute. Requests of every thread pass
// here, so the counts are atomic and the table is only locked to add a kind.
struct Kind {
    std::atomic<long long> windowStart{std::numeric_limits<long long>::min() / 2}; // ms
    std::atomic<std::size_t> written{0};
    std::atomic<std::size_t> leftOut{0};
};

std::shared_mutex kindsMutex;
std::map<std::string, std::unique_ptr<Kind>> kinds;

std::string leftOutLine(const std::string &kind, std::size_t count)
{
    return "(" + std::to_string(count) + " more \"" + kind +
           "\" line(s) left out in the last minute)";
}

Kind &kindOf(const std::string &name)
{
    {
        std::shared_lock<std::shared_mutex> lock(kindsMutex);
        const auto found = kinds.find(name);
        if (found != kinds.end())
            return *found->second;
    }
    std::unique_lock<std::shared_mutex> lock(kindsMutex);
    std::unique_ptr<Kind> &kind = kinds[name];
    if (!kind)
        kind = std::make_unique<Kind>();
    return *kind;
}

} // namespace

void logLine(const std::string &line)
{
    writeAll(STDERR_FILENO, line + '\n');
}

void logThrottled(const std::string &kind, const std::string &line)
{
    const long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    Kind &counts = kindOf(kind);
    // The first line after a minute opens a new one and reports the last.
    long long start = counts.windowStart.load();
    if (now - start >= 60000 && counts.windowStart.compare_exchange_strong(start, now)) {
        counts.written = 0;
        const std::size_t leftOut = counts.leftOut.exchange(0);
        if (leftOut > 0)
            logLine(leftOutLine(kind, leftOut));
    }
    if (counts.written.fetch_add(1) >= ThrottledLinesPerMinute) {
        ++counts.leftOut;
        return;
    }
    logLine(line);
}

void logLeftOutLines()
{
    std::unique_lock<std::shared_mutex> lock(kindsMutex);
    for (auto &entry : kinds) {
        const std::size_t leftOut = entry.second->leftOut.exchange(0);
        if (leftOut > 0)
            logLine(leftOutLine(entry.first, leftOut));
    }
}

std::string printable(std::string_view text, std::size_t maxBytes)
{
    std::string result;
    const std::size_t shown = text.size() > maxBytes ? maxBytes : text.size();
    for (std::size_t i = 0; i < shown; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c >= 0x7f || c == '\\' || c == '"') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            result += escaped;
        } else {
            result += char(c);
        }
    }
    if (shown < text.size())
        result += "...(" + std::to_string(text.size()) + " bytes)";
    return result;
}
