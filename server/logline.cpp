#include "logline.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <unistd.h>

namespace
{

struct Kind {
    std::chrono::steady_clock::time_point windowStart;
    std::size_t written = 0;
    std::size_t leftOut = 0;
};

std::mutex throttleMutex;
std::map<std::string, Kind> kinds;

std::string leftOutLine(const std::string &kind, std::size_t count)
{
    return "(" + std::to_string(count) + " more \"" + kind +
           "\" line(s) left out in the last minute)";
}

} // namespace

void logLine(const std::string &line)
{
    std::string text = line;
    text += '\n';
    const char *data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, left);
        if (written <= 0)
            return;
        data += written;
        left -= std::size_t(written);
    }
}

void logThrottled(const std::string &kind, const std::string &line)
{
    const auto now = std::chrono::steady_clock::now();
    std::string before;
    {
        std::lock_guard<std::mutex> lock(throttleMutex);
        Kind &counts = kinds[kind];
        if (counts.written == 0 || now - counts.windowStart >= std::chrono::minutes(1)) {
            if (counts.leftOut > 0)
                before = leftOutLine(kind, counts.leftOut);
            counts = Kind{now, 0, 0};
        }
        if (counts.written >= ThrottledLinesPerMinute) {
            ++counts.leftOut;
            return;
        }
        ++counts.written;
    }
    if (!before.empty())
        logLine(before);
    logLine(line);
}

void logLeftOutLines()
{
    std::lock_guard<std::mutex> lock(throttleMutex);
    for (auto &entry : kinds) {
        if (entry.second.leftOut > 0)
            logLine(leftOutLine(entry.first, entry.second.leftOut));
        entry.second.leftOut = 0;
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
