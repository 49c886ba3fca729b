#include "requesthead.h"

#include <cstring>

namespace
{

bool isTokenChar(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool isToken(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (!isTokenChar(static_cast<unsigned char>(c)))
            return false;
    return true;
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool sameWord(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The next line of the header without its line end; false at the end of the
// header or when a CR stands anywhere but before the LF.
bool nextLine(std::string_view &rest, std::string_view &line)
{
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos)
        return false;
    line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line.find('\r') == std::string_view::npos;
}

bool parseRequestLine(std::string_view line, RequestHead &head)
{
    const std::size_t first = line.find(' ');
    const std::size_t second = line.find(' ', first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos ||
        line.find(' ', second + 1) != std::string_view::npos)
        return false;
    const std::string_view method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, second - first - 1);
    const std::string_view version = line.substr(second + 1);
    if (!isToken(method) || target.empty())
        return false;
    for (char c : target) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7f)
            return false;
    }
    if (version == "HTTP/1.0")
        head.minorVersion = 0;
    else if (version == "HTTP/1.1")
        head.minorVersion = 1;
    else
        return false;
    head.method = std::string(method);
    head.target = std::string(target);
    return true;
}

} // namespace

std::size_t requestHeadLength(std::string_view buffer)
{
    std::size_t from = 0;
    for (;;) {
        const std::size_t lf = buffer.find('\n', from);
        if (lf == std::string_view::npos || lf + 1 >= buffer.size())
            return 0;
        if (buffer[lf + 1] == '\n')
            return lf + 2;
        if (buffer[lf + 1] == '\r') {
            if (lf + 2 >= buffer.size())
                return 0;
            if (buffer[lf + 2] == '\n')
                return lf + 3;
        }
        from = lf + 1;
    }
}

std::optional<RequestHead> parseRequestHead(std::string_view text)
{
    RequestHead head;
    std::string_view line;
    if (!nextLine(text, line) || !parseRequestLine(line, head))
        return std::nullopt;
    bool close = false;
    bool keepAlive = false;
    for (;;) {
        if (!nextLine(text, line))
            return std::nullopt;
        if (line.empty())
            break;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !isToken(line.substr(0, colon)))
            return std::nullopt;
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = trimmed(line.substr(colon + 1));
        for (char c : value) {
            const unsigned char u = static_cast<unsigned char>(c);
            if ((u < 0x20 && u != '\t') || u == 0x7f)
                return std::nullopt;
        }
        if (sameWord(name, "Content-Length")) {
            if (value != "0")
                head.hasBody = true;
        } else if (sameWord(name, "Transfer-Encoding")) {
            head.hasBody = true;
        } else if (sameWord(name, "Connection")) {
            std::string_view options = value;
            while (!options.empty()) {
                const std::size_t comma = options.find(',');
                const std::string_view option = trimmed(options.substr(0, comma));
                options = comma == std::string_view::npos ? std::string_view()
                                                          : options.substr(comma + 1);
                close = close || sameWord(option, "close");
                keepAlive = keepAlive || sameWord(option, "keep-alive");
            }
        }
    }
    if (!text.empty())
        return std::nullopt; // more than one header given
    head.keepAlive = !close && (head.minorVersion == 1 || keepAlive);
    return head;
}

std::string formatAnswer(int status, std::string_view contentType, std::string_view body,
                         bool keepAlive, bool headOnly)
{
    const char *reason = "Error";
    switch (status) {
    case 200:
        reason = "OK";
        break;
    case 400:
        reason = "Bad Request";
        break;
    case 403:
        reason = "Forbidden";
        break;
    case 404:
        reason = "Not Found";
        break;
    case 408:
        reason = "Request Timeout";
        break;
    case 429:
        reason = "Too Many Requests";
        break;
    case 431:
        reason = "Request Header Fields Too Large";
        break;
    case 503:
        reason = "Service Unavailable";
        break;
    }
    std::string text;
    text.reserve(160 + body.size());
    text += "HTTP/1.1 ";
    text += std::to_string(status);
    text += ' ';
    text += reason;
    text += "\r\nContent-Type: ";
    text += contentType;
    text += "\r\nContent-Length: ";
    text += std::to_string(body.size());
    text += keepAlive ? "\r\nConnection: keep-alive\r\n\r\n" : "\r\nConnection: close\r\n\r\n";
    if (!headOnly)
        text += body;
    return text;
}
