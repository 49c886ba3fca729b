#include "requesthead.h"

#include <http_parser.h>

#include <cstring>

namespace
{

// What one pass of http_parser over a request header found.
struct HeadReader {
    http_parser parser;
    std::string_view url;
    bool complete = false;
};

int onUrl(http_parser *parser, const char *at, std::size_t length)
{
    std::string_view &url = static_cast<HeadReader *>(parser->data)->url;
    url = url.empty() ? std::string_view(at, length)
                      : std::string_view(url.data(), url.size() + length);
    return 0;
}

int onHeaderField(http_parser *, const char *at, std::size_t length)
{
    // Debian builds http_parser without HTTP_PARSER_STRICT, which lets a
    // space into a header name ("Connection : close").
    return std::memchr(at, ' ', length) ? -1 : 0;
}

int onHeadersComplete(http_parser *parser)
{
    static_cast<HeadReader *>(parser->data)->complete = true;
    // The body, or the next request, is not for this pass.
    http_parser_pause(parser, 1);
    return 0;
}

const http_parser_settings &settings()
{
    static const http_parser_settings parserSettings = [] {
        http_parser_settings s;
        http_parser_settings_init(&s);
        s.on_url = &onUrl;
        s.on_header_field = &onHeaderField;
        s.on_headers_complete = &onHeadersComplete;
        return s;
    }();
    return parserSettings;
}

// The length of the header http_parser reads at the start of text; 0 when it
// cannot read one or the header is not complete.
std::size_t readHead(std::string_view text, HeadReader &reader)
{
    http_parser_init(&reader.parser, HTTP_REQUEST);
    reader.parser.data = &reader;
    const std::size_t used =
        http_parser_execute(&reader.parser, &settings(), text.data(), text.size());
    // Paused on the LF of the empty line; without the strict checks the
    // parser takes any byte after that line's CR for it.
    if (!reader.complete || used >= text.size() || text[used] != '\n')
        return 0;
    return used + 1;
}

// What http_parser lets through and a request here must not have: a CR that
// does not end a line, and a header line folded onto the next.
bool hasBareCrOrFold(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))
            return true;
        if (text[i] == '\n' && i + 1 < text.size() && (text[i + 1] == ' ' || text[i + 1] == '\t'))
            return true;
    }
    return false;
}

} // namespace

std::size_t requestHeadLength(std::string_view buffer)
{
    // The first empty line ends a header, readable or not, so that a bad one
    // is refused once it is all in. For a header it reads the parser finds
    // the same end (parseRequestHead checks it), but this is asked again after
    // every piece of a header that comes in slowly, and a scan costs a small
    // part of a pass of the parser.
    std::size_t from = 0;
    for (;;) {
        const std::size_t lf = buffer.find('\n', from);
        if (lf == std::string_view::npos || lf + 1 >= buffer.size())
            return 0;
        if (buffer[lf + 1] == '\n')
            return lf + 2;
        if (buffer[lf + 1] == '\r' && lf + 2 < buffer.size() && buffer[lf + 2] == '\n')
            return lf + 3;
        from = lf + 1;
    }
}

std::optional<RequestHead> parseRequestHead(std::string_view text)
{
    if (hasBareCrOrFold(text))
        return std::nullopt;
    HeadReader reader;
    const std::size_t length = readHead(text, reader);
    // Anything after the header would be a second request.
    if (length == 0 || length != text.size())
        return std::nullopt;
    const http_parser &parser = reader.parser;
    if (parser.http_major != 1 || parser.http_minor > 1)
        return std::nullopt;

    // Exactly "METHOD SP target SP HTTP/1.x": the parser skips extra spaces
    // and, not strict, checks only the first letter of "HTTP".
    const std::string_view method = http_method_str(static_cast<http_method>(parser.method));
    const std::string_view url = reader.url;
    if (url.empty() || text.compare(0, method.size(), method) != 0 ||
        url.data() != text.data() + method.size() + 1 ||
        text.compare(method.size() + 1 + url.size(), 6, " HTTP/") != 0)
        return std::nullopt;
    // Not strict, the parser also takes TAB and FF into a target.
    for (char c : url) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7f)
            return std::nullopt;
    }

    RequestHead head;
    head.method = std::string(method);
    head.target = std::string(url);
    head.minorVersion = parser.http_minor;
    // The parser keeps an HTTP/1.0 connection that says both keep-alive and
    // close; close wins.
    head.keepAlive = http_should_keep_alive(&parser) && !(parser.flags & F_CONNECTION_CLOSE);
    head.hasBody = parser.uses_transfer_encoding ||
                   ((parser.flags & F_CONTENTLENGTH) && parser.content_length > 0);
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
