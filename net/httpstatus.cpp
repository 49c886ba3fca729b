#include "httpstatus.h"

#include <http_parser.h>

namespace
{

int stopAtBody(http_parser *parser)
{
    *static_cast<bool *>(parser->data) = true;
    // The body is not looked at.
    http_parser_pause(parser, 1);
    return 0;
}

} // namespace

int httpStatusCode(const QByteArray &reply)
{
    static const http_parser_settings settings = [] {
        http_parser_settings s;
        http_parser_settings_init(&s);
        s.on_headers_complete = &stopAtBody;
        return s;
    }();
    bool headersComplete = false;
    http_parser parser;
    http_parser_init(&parser, HTTP_RESPONSE);
    parser.data = &headersComplete;
    http_parser_execute(&parser, &settings, reply.constData(), size_t(reply.size()));
    // http_parser also takes one and two digit codes; HTTP has three.
    const int status = int(parser.status_code);
    return headersComplete && status >= 100 ? status : 0;
}
