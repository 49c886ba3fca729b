#ifndef ORVELLA_UPDATEREPLY_H
#define ORVELLA_UPDATEREPLY_H

#include <QByteArray>
#include <QString>

#include <http_parser.h>

// Reads the update server's reply as HTTP while it arrives and tells what it
// answers. It keeps at most MaxReplyBytes and does work in proportion to the
// bytes it is given, so no reply can hold up its caller for long.
class UpdateReply
{
public:
    enum Outcome {
        Pending,  // the reply is not complete yet
        Offer,    // a 200 reply naming a newer version: version()
        UpToDate, // a 200 reply without "|" in its body
        Invalid,  // anything else: no answer, not 200, cut off, too long, malformed
    };

    // An answer is a few bytes; anything longer is not one.
    static constexpr int MaxReplyBytes = 64 * 1024;
    static constexpr int MaxVersionLength = 32;

    UpdateReply();
    UpdateReply(const UpdateReply &) = delete;
    UpdateReply &operator=(const UpdateReply &) = delete;

    // Forgets everything for a new reply.
    void reset();

    // Takes the next bytes received; bytes after a decided outcome are ignored.
    Outcome feed(const char *data, int size);
    Outcome feed(const QByteArray &bytes) { return feed(bytes.constData(), bytes.size()); }
    // The server closed the connection: a reply still pending is decided.
    Outcome finish();

    // The version offered when the outcome is Offer, otherwise empty.
    QString version() const { return m_version; }
    // Bytes taken so far and bytes of the body kept.
    int receivedBytes() const { return m_received; }
    int keptBytes() const { return m_body.size(); }

private:
    static const http_parser_settings &settings();
    static int onHeadersComplete(http_parser *parser);
    static int onBody(http_parser *parser, const char *at, size_t length);
    static int onMessageComplete(http_parser *parser);
    void decide();

    http_parser m_parser;
    QByteArray m_body;
    int m_received = 0;
    bool m_complete = false;
    Outcome m_outcome = Pending;
    QString m_version;
};

// What the body of a complete 200 reply answers: UpToDate without "|";
// otherwise Offer when the last non-empty line of the first non-empty piece
// between "|" marks, white space trimmed, is a version text (at most
// MaxVersionLength digits, letters, dots and dashes), stored in *version;
// Invalid when it is not.
UpdateReply::Outcome interpretUpdateBody(const QByteArray &body, QString *version);

// A whole reply at once, as if the server closed after it.
UpdateReply::Outcome interpretUpdateReply(const QByteArray &reply, QString *version);

#endif
