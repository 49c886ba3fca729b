#include "capturereport.h"

#include "secretmask.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <set>

std::string reportText(const std::string &text)
{
    std::string line = maskPasswords(text);
    // Line breaks inside GStreamer's texts would split the report.
    for (char &c : line)
        if (c == '\n' || c == '\r')
            c = ' ';
    return line;
}

void reportLine(const std::string &text)
{
    const std::string line = "orvella: " + reportText(text) + '\n';
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + written, line.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        written += std::size_t(n);
    }
}

void reportLineOnce(const std::string &text)
{
    static std::mutex mutex;
    static std::set<std::string> *reported = new std::set<std::string>;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!reported->insert(text).second)
            return;
    }
    reportLine(text);
}
