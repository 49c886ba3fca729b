#include "alertmail.h"

#include <cstdio>
#include <ctime>

namespace
{

std::tm localParts(WallTime time)
{
    const std::time_t seconds = WallClock::to_time_t(time);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    return parts;
}

std::string format(const std::tm &parts, const char *pattern)
{
    char text[128];
    const std::size_t length = std::strftime(text, sizeof text, pattern, &parts);
    return std::string(text, length);
}

std::string trimmed(const std::string &text)
{
    const std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::string();
    const std::size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

const char *const weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

} // namespace

std::string formatMailDate(WallTime time)
{
    // Day and month names spelt out here: the header must not follow a locale.
    const std::tm parts = localParts(time);
    const long offset = parts.tm_gmtoff / 60;
    const long absolute = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  weekdays[parts.tm_wday % 7], parts.tm_mday, months[parts.tm_mon % 12],
                  parts.tm_year + 1900, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  offset < 0 ? '-' : '+', absolute / 60, absolute % 60);
    return text;
}

std::string formatLocalTime(WallTime time)
{
    return format(localParts(time), "%Y-%m-%d %H:%M:%S %Z");
}

std::string formatUtcTime(WallTime time)
{
    const std::time_t seconds = WallClock::to_time_t(time);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    return format(parts, "%Y-%m-%d %H:%M:%S UTC");
}

std::string envelopeAddress(const std::string &from)
{
    const std::size_t open = from.rfind('<');
    const std::size_t close = from.rfind('>');
    if (open != std::string::npos && close != std::string::npos && open < close)
        return trimmed(from.substr(open + 1, close - open - 1));
    return trimmed(from);
}

std::string makeMessageId(WallTime time, std::uint64_t random, const std::string &from)
{
    const std::string sender = envelopeAddress(from);
    const std::size_t at = sender.rfind('@');
    const std::string domain = at == std::string::npos || at + 1 == sender.size()
                                   ? "orvella-server"
                                   : sender.substr(at + 1);
    const std::time_t seconds = WallClock::to_time_t(time);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random));
    return "<" + format(parts, "%Y%m%d%H%M%S") + "." + text + "@" + domain + ">";
}

std::string composeAlertMail(const AlertMail &mail)
{
    const std::string crlf = "\r\n";
    std::string text;
    text += "Date: " + formatMailDate(mail.date) + crlf;
    text += "From: " + mail.from + crlf;
    text += "To: " + mail.to + crlf;
    text += "Subject: Orvella: motion detected at " + formatLocalTime(mail.first) + crlf;
    text += "Message-ID: " + mail.messageId + crlf;
    text += "MIME-Version: 1.0" + crlf;
    text += "Content-Type: text/plain; charset=utf-8" + crlf;
    text += "Content-Transfer-Encoding: 8bit" + crlf;
    text += "Auto-Submitted: auto-generated" + crlf;
    text += crlf;

    const auto both = [](WallTime time) {
        return formatLocalTime(time) + " (" + formatUtcTime(time) + ")";
    };
    if (!mail.summary) {
        text += "Orvella detected motion." + crlf + crlf;
        text += "Time:   " + both(mail.first) + crlf;
        text += "Alerts: " + std::to_string(mail.count) + crlf;
        text += "Client: " + mail.client + crlf + crlf;
        text += "Further alerts for this address during the next " +
                std::to_string(mail.holdOffSeconds) +
                " seconds are counted and reported in one mail when that time is over." + crlf;
    } else {
        text += "Orvella went on detecting motion." + crlf + crlf;
        text += "Alerts: " + std::to_string(mail.count) + " more" + crlf;
        text += "First:  " + both(mail.first) + crlf;
        text += "Last:   " + both(mail.last) + crlf;
        text += "Client: " + mail.client + crlf;
    }
    return text;
}
