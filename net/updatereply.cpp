#include "updatereply.h"

#include <climits>

namespace
{

bool isVersionCharacter(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           c == '.' || c == '-';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

} // namespace

UpdateReply::Outcome interpretUpdateBody(const QByteArray &body, QString *version)
{
    const int size = body.size();
    const char *bytes = body.constData();
    if (body.indexOf('|') < 0)
        return UpdateReply::UpToDate;
    // Empty pieces between "|" marks are skipped; the first one left counts.
    int start = 0;
    while (start < size && bytes[start] == '|')
        ++start;
    int end = body.indexOf('|', start);
    if (end < 0)
        end = size;
    // Its last non-empty line.
    while (end > start && bytes[end - 1] == '\n')
        --end;
    int lineStart = end;
    while (lineStart > start && bytes[lineStart - 1] != '\n')
        --lineStart;
    while (lineStart < end && isBlank(bytes[lineStart]))
        ++lineStart;
    while (end > lineStart && isBlank(bytes[end - 1]))
        --end;
    const int length = end - lineStart;
    if (length == 0 || length > UpdateReply::MaxVersionLength)
        return UpdateReply::Invalid;
    for (int i = lineStart; i < end; ++i) {
        if (!isVersionCharacter(bytes[i]))
            return UpdateReply::Invalid;
    }
    if (version)
        *version = QString::fromLatin1(bytes + lineStart, length);
    return UpdateReply::Offer;
}

UpdateReply::Outcome interpretUpdateReply(const QByteArray &reply, QString *version)
{
    UpdateReply reader;
    reader.feed(reply);
    const UpdateReply::Outcome outcome = reader.finish();
    if (version)
        *version = reader.version();
    return outcome;
}

UpdateReply::UpdateReply()
{
    reset();
}

void UpdateReply::reset()
{
    http_parser_init(&m_parser, HTTP_RESPONSE);
    m_parser.data = this;
    m_body.clear();
    m_received = 0;
    m_complete = false;
    m_outcome = Pending;
    m_version.clear();
}

const http_parser_settings &UpdateReply::settings()
{
    static const http_parser_settings parserSettings = [] {
        http_parser_settings s;
        http_parser_settings_init(&s);
        s.on_headers_complete = &UpdateReply::onHeadersComplete;
        s.on_body = &UpdateReply::onBody;
        s.on_message_complete = &UpdateReply::onMessageComplete;
        return s;
    }();
    return parserSettings;
}

int UpdateReply::onHeadersComplete(http_parser *parser)
{
    // Only a plain 200 answers; the body of anything else is not read.
    if (parser->status_code != 200)
        return -1;
    // http_parser sets the length to ULLONG_MAX when none was announced.
    if (parser->content_length != ULLONG_MAX && parser->content_length > MaxReplyBytes)
        return -1;
    return 0;
}

int UpdateReply::onBody(http_parser *parser, const char *at, size_t length)
{
    // Bounded by the bytes feed() lets through.
    static_cast<UpdateReply *>(parser->data)->m_body.append(at, int(length));
    return 0;
}

int UpdateReply::onMessageComplete(http_parser *parser)
{
    static_cast<UpdateReply *>(parser->data)->m_complete = true;
    // Whatever follows the answer is not looked at.
    http_parser_pause(parser, 1);
    return 0;
}

UpdateReply::Outcome UpdateReply::feed(const char *data, int size)
{
    if (m_outcome != Pending || size <= 0)
        return m_outcome;
    const int room = MaxReplyBytes - m_received;
    // Nothing more may be taken; handing http_parser no bytes would mean the
    // connection ended.
    if (room == 0) {
        m_outcome = Invalid;
        return m_outcome;
    }
    const int taken = size < room ? size : room;
    m_received += taken;
    http_parser_execute(&m_parser, &settings(), data, size_t(taken));
    if (m_complete)
        decide();
    else if (HTTP_PARSER_ERRNO(&m_parser) != HPE_OK || taken < size)
        m_outcome = Invalid;
    return m_outcome;
}

UpdateReply::Outcome UpdateReply::finish()
{
    if (m_outcome != Pending)
        return m_outcome;
    // A body without a length ends with the connection; one with a length
    // that did not all arrive was cut off.
    http_parser_execute(&m_parser, &settings(), nullptr, 0);
    if (m_complete)
        decide();
    else
        m_outcome = Invalid;
    return m_outcome;
}

void UpdateReply::decide()
{
    m_outcome = interpretUpdateBody(m_body, &m_version);
    if (m_outcome != Offer)
        m_version.clear();
}
