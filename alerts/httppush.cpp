#include "httppush.h"

#include "alertevent.h"
#include "mqttdiscovery.h"

QString pushUrlProblem(const QString &text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (text.trimmed().isEmpty())
        return QStringLiteral("no address set");
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty())
        return QStringLiteral("not an http:// or https:// address");
    return QString();
}

QString pushTitle(const AlertEvent &event)
{
    return QStringLiteral("Motion at %1").arg(event.camera);
}

QString pushMessage(const AlertEvent &event)
{
    return QStringLiteral("%1: motion at %2, level %3")
        .arg(event.camera, event.start.toLocalTime().toString(QStringLiteral("HH:mm:ss")))
        .arg(event.peakLevel);
}

QByteArray pushHeaderText(const QString &text)
{
    bool ascii = true;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return text.toLatin1();
    return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?=";
}

QByteArray pushAuthorization(const QString &user, const QString &secret)
{
    if (secret.isEmpty())
        return QByteArray();
    if (user.isEmpty())
        return "Bearer " + secret.toUtf8();
    return "Basic " + (user + QLatin1Char(':') + secret).toUtf8().toBase64();
}

namespace
{

void addAuthorization(HttpPushRequest &request, const QByteArray &authorization)
{
    if (!authorization.isEmpty())
        request.headers.push_back({"Authorization", authorization});
}

} // namespace

HttpPushRequest ntfyRequest(const AlertEvent &event, const QUrl &topic,
                            const QByteArray &authorization, bool attachSnapshot)
{
    HttpPushRequest request;
    request.url = topic;
    request.headers.push_back({"Title", pushHeaderText(pushTitle(event))});
    request.headers.push_back({"Tags", "rotating_light"});
    const QByteArray jpeg = attachSnapshot ? event.snapshotJpeg() : QByteArray();
    if (jpeg.isEmpty()) {
        request.method = "POST";
        request.headers.push_back({"Content-Type", "text/plain; charset=utf-8"});
        request.body = pushMessage(event).toUtf8();
    } else {
        // The body is the attachment, so the text goes in a header.
        request.method = "PUT";
        request.headers.push_back({"Message", pushHeaderText(pushMessage(event))});
        const QString name = mqttTopicLevel(event.camera) + QLatin1Char('-') +
                             event.start.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
                             QLatin1String(".jpg");
        request.headers.push_back({"Filename", name.toLatin1()});
        request.headers.push_back({"Content-Type", "image/jpeg"});
        request.body = jpeg;
    }
    addAuthorization(request, authorization);
    return request;
}

HttpPushRequest ntfyTestRequest(const QUrl &topic, const QByteArray &authorization)
{
    HttpPushRequest request;
    request.method = "POST";
    request.url = topic;
    request.headers.push_back({"Title", "Orvella test"});
    request.headers.push_back({"Content-Type", "text/plain; charset=utf-8"});
    request.body = "Push alerts from Orvella arrive here.";
    addAuthorization(request, authorization);
    return request;
}

HttpPushRequest webhookRequest(const AlertEvent &event, const QUrl &url)
{
    HttpPushRequest request;
    request.method = "POST";
    request.url = url;
    request.headers.push_back({"Content-Type", "application/json"});
    request.body = alertEventJson(event);
    return request;
}
