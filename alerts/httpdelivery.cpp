#include "httpdelivery.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>

#include <algorithm>

const QVector<int> HttpDelivery::defaultRetryDelaysMs{1000, 2000, 4000, 8000};

namespace
{

QString connectionProblem(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("connection refused");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("server not found");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("timed out");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("connection closed");
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return QStringLiteral("network error");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("secure connection failed");
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
        return QStringLiteral("proxy failed");
    default:
        return QStringLiteral("connection failed");
    }
}

int retryAfterMs(const QByteArray &header)
{
    bool ok = false;
    const int seconds = header.trimmed().toInt(&ok);
    if (!ok || seconds < 0)
        return -1;
    return std::min(seconds, HttpDelivery::maxRetryAfterMs / 1000) * 1000;
}

} // namespace

AttemptJudgement judgeAttempt(QNetworkReply::NetworkError error, int httpStatus, bool requestSent,
                              const QByteArray &retryAfter)
{
    if (httpStatus > 0) {
        if (httpStatus >= 200 && httpStatus <= 299)
            return {AttemptVerdict::Delivered, QString(), -1};
        const QString reason = QStringLiteral("server answered %1").arg(httpStatus);
        switch (httpStatus) {
        case 429:
        case 500:
        case 502:
        case 503:
        case 504:
            return {AttemptVerdict::TryAgain, reason, retryAfterMs(retryAfter)};
        default:
            return {AttemptVerdict::Refused, reason, -1};
        }
    }
    const QString reason = connectionProblem(error);
    switch (error) {
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError:
        return {AttemptVerdict::Refused, reason, -1};
    default:
        break;
    }
    // Without an answer, what counts is whether the server may have read the
    // request: before anything went out, nothing can have arrived.
    if (!requestSent)
        return {AttemptVerdict::TryAgain, reason, -1};
    return {AttemptVerdict::Unknown, reason, -1};
}

QString attemptFailureText(const QString &reason, int retryInMs, bool mayHaveArrived)
{
    if (retryInMs >= 0)
        return QStringLiteral("%1, trying again in %2 s").arg(reason).arg((retryInMs + 999) / 1000);
    if (mayHaveArrived)
        return QStringLiteral("%1; not sent again as it may have arrived").arg(reason);
    return reason;
}

HttpDelivery::HttpDelivery(QNetworkAccessManager &network, HttpPushRequest request,
                           QVector<int> retryDelaysMs, int timeoutMs, QObject *parent)
    : QObject(parent), m_network(network), m_request(std::move(request)),
      m_delays(std::move(retryDelaysMs)), m_timeoutMs(timeoutMs)
{
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &HttpDelivery::attempt);
}

HttpDelivery::~HttpDelivery()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

void HttpDelivery::start()
{
    attempt();
}

void HttpDelivery::attempt()
{
    ++m_attempts;
    m_sent = false;
    QNetworkRequest request(m_request.url);
    for (const auto &header : qAsConst(m_request.headers))
        request.setRawHeader(header.first, header.second);
    request.setHeader(QNetworkRequest::ContentLengthHeader, m_request.body.size());
    request.setTransferTimeout(m_timeoutMs);
    // A redirect would send the message somewhere the user did not choose.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    // Each attempt gets a connection of its own: a kept-alive one the server
    // has dropped would fail after the request was written, leaving its
    // fate unknown.
    request.setRawHeader("Connection", "close");
    m_reply = m_network.sendCustomRequest(request, m_request.method, m_request.body);
    connect(m_reply, &QNetworkReply::uploadProgress, this, [this](qint64 sent, qint64) {
        if (sent > 0)
            m_sent = true;
    });
    connect(m_reply, &QNetworkReply::finished, this, &HttpDelivery::onFinished);
}

void HttpDelivery::onFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    m_reply = nullptr;
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const AttemptJudgement judged =
        judgeAttempt(reply->error(), status, m_sent, reply->rawHeader("Retry-After"));
    if (judged.verdict == AttemptVerdict::Delivered) {
        emit finished(true, QString());
        return;
    }
    const int index = m_attempts - 1;
    if (judged.verdict == AttemptVerdict::TryAgain && index < m_delays.size()) {
        const int wait = std::max(m_delays.at(index), judged.retryAfterMs);
        emit attemptFailed(judged.reason, wait);
        m_retryTimer.start(wait);
        return;
    }
    const bool mayHaveArrived = judged.verdict == AttemptVerdict::Unknown;
    QString reason = judged.reason;
    if (mayHaveArrived)
        reason = attemptFailureText(judged.reason, -1, true);
    else if (judged.verdict == AttemptVerdict::TryAgain && m_attempts > 1)
        reason = QStringLiteral("%1; gave up after %2 attempts").arg(judged.reason).arg(m_attempts);
    emit finished(false, reason);
}
