#include "holdoffjournal.h"

#include "addresscheck.h"
#include "writeall.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

namespace
{

long long millis(WallTime time)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

bool readMillis(const std::string &text, WallTime &time)
{
    if (text.empty() || text.size() > 15 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    time = WallTime(std::chrono::milliseconds(std::atoll(text.c_str())));
    return true;
}

} // namespace

std::string journalLine(const HoldOffState &state)
{
    const HeldAlerts &held = state.held;
    return held.address + " " + std::to_string(millis(state.ends)) + " " +
           std::to_string(held.count) + " " + std::to_string(millis(held.first)) + " " +
           std::to_string(millis(held.last)) + " " + (held.client.empty() ? "-" : held.client) +
           "\n";
}

std::vector<HoldOffState> parseJournal(std::string_view text)
{
    std::map<std::string, HoldOffState> latest;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string address, ends, count, first, last, client, extra;
        words >> address >> ends;
        if (!isAcceptableAddress(address))
            continue;
        if (ends == "-") {
            latest.erase(address);
            continue;
        }
        HoldOffState state;
        state.held.address = address;
        if (!(words >> count >> first >> last >> client) || (words >> extra) ||
            !readMillis(ends, state.ends) || !readMillis(first, state.held.first) ||
            !readMillis(last, state.held.last) || count.empty() || count.size() > 9 ||
            count.find_first_not_of("0123456789") != std::string::npos || client.size() > 64)
            continue;
        state.held.count = std::atoi(count.c_str());
        state.held.client = client == "-" ? std::string() : client;
        latest[address] = state;
    }
    std::vector<HoldOffState> states;
    states.reserve(latest.size());
    for (auto &entry : latest)
        states.push_back(std::move(entry.second));
    return states;
}

HoldOffJournal::~HoldOffJournal()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::vector<HoldOffState> HoldOffJournal::load() const
{
    std::ifstream file(m_path, std::ios::binary);
    if (!file)
        return {};
    std::ostringstream text;
    text << file.rdbuf();
    return parseJournal(text.str());
}

bool HoldOffJournal::rewrite(const std::vector<HoldOffState> &states, std::string &error)
{
    const std::string temporary = m_path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0640);
    if (fd < 0) {
        error = temporary + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    for (const HoldOffState &state : states)
        text += journalLine(state);
    const bool written = writeAll(fd, text);
    const int savedErrno = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), m_path.c_str()) != 0) {
        error = m_path + ": " + std::strerror(written ? errno : savedErrno);
        ::unlink(temporary.c_str());
        return false;
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    m_appended = 0;
    if (m_fd < 0) {
        error = m_path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool HoldOffJournal::append(const std::string &line, std::string &error)
{
    ++m_appended;
    if (m_fd < 0) {
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
        if (m_fd < 0) {
            error = m_path + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!writeAll(m_fd, line)) {
        error = m_path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool HoldOffJournal::note(const HoldOffState &state, std::string &error)
{
    return append(journalLine(state), error);
}

bool HoldOffJournal::forget(const std::string &address, std::string &error)
{
    return append(address + " -\n", error);
}
