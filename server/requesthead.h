#ifndef ORVELLA_SERVER_REQUESTHEAD_H
#define ORVELLA_SERVER_REQUESTHEAD_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// What the server needs of an HTTP/1.x request header: the request line and
// whether the connection may carry another request.
struct RequestHead {
    std::string method;
    std::string target;
    int minorVersion = 0; // HTTP/1.0 or HTTP/1.1
    bool keepAlive = false;
    bool hasBody = false; // a body the server does not read follows
};

// The length of the header at the start of buffer, up to and including the
// empty line that ends it (CR LF or LF alone); 0 while it is not complete.
std::size_t requestHeadLength(std::string_view buffer);

// Reads a whole header as requestHeadLength() found it, with http_parser.
// nullopt when it is not a well-formed HTTP/1.0 or 1.1 request: a malformed
// request line, a method the parser does not know, control characters, a CR
// that does not end a line, a folded or nameless header line, a bad or
// contradictory Content-Length, or more than the one header.
std::optional<RequestHead> parseRequestHead(std::string_view head);

// An answer with a plain text or HTML body; "Connection: close" unless
// keepAlive. For HEAD requests the body is left out and its length kept.
std::string formatAnswer(int status, std::string_view contentType, std::string_view body,
                         bool keepAlive, bool headOnly = false);

#endif
