#ifndef ORVELLA_HTTPPUSH_H
#define ORVELLA_HTTPPUSH_H

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QUrl>
#include <QVector>

struct AlertEvent;

// One HTTP request of a push channel, as it goes out.
struct HttpPushRequest {
    QByteArray method; // "POST" or "PUT"
    QUrl url;
    QVector<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
};

// Why text typed as a push address is not one (an http:// or https:// URL
// with a host); empty when it is.
QString pushUrlProblem(const QString &text);

// "Motion at <camera>" and "<camera>: motion at hh:mm:ss, level <peak>"
// (local time), the texts a phone shows.
QString pushTitle(const AlertEvent &event);
QString pushMessage(const AlertEvent &event);

// A header value: ASCII text as it is, anything else as an RFC 2047 UTF-8
// encoded word, which push servers decode.
QByteArray pushHeaderText(const QString &text);

// The Authorization header value for a push topic: basic login with a user,
// an access token without one; empty when there is no secret.
QByteArray pushAuthorization(const QString &user, const QString &secret);

// The push for an event: with a snapshot to attach, a PUT of the JPEG with
// the text in headers; without, a POST of the message text. authorization
// may be empty.
HttpPushRequest ntfyRequest(const AlertEvent &event, const QUrl &topic,
                            const QByteArray &authorization, bool attachSnapshot);

// A short text push saying that the channel works.
HttpPushRequest ntfyTestRequest(const QUrl &topic, const QByteArray &authorization);

// A POST of alertEventJson(event) as application/json.
HttpPushRequest webhookRequest(const AlertEvent &event, const QUrl &url);

#endif
