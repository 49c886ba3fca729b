#include "relaysender.h"

#include "httpstatus.h"

using Vesk::QtLib::Web::CWebSocket;

QString relayReplyProblem(const QString &response)
{
    if (response.isEmpty())
        return QStringLiteral("no reply");
    const int status = httpStatusCode(response.toUtf8());
    if (status == 0)
        return QStringLiteral("unreadable reply");
    if (status < 200 || status > 299)
        return QStringLiteral("server answered %1").arg(status);
    return QString();
}

QString relayFailureReason(CWebSocket::Failure failure, QAbstractSocket::SocketError socketError)
{
    switch (failure) {
    case CWebSocket::Failure::TimedOut:
        return QStringLiteral("timed out");
    case CWebSocket::Failure::ReplyTooLong:
        return QStringLiteral("reply too long");
    case CWebSocket::Failure::UnsafeRequest:
        return QStringLiteral("invalid request");
    case CWebSocket::Failure::None:
    case CWebSocket::Failure::Socket:
        break;
    }
    switch (socketError) {
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionRefusedError:
        return QStringLiteral("connection refused");
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::ProxyNotFoundError:
        return QStringLiteral("server not found");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("network error");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("timed out");
    default:
        return QStringLiteral("connection failed");
    }
}

RelaySender::RelaySender(CWebSocket &client, QObject *parent) : QObject(parent), m_client(client)
{
    connect(&m_client, &CWebSocket::dataRetrieved, this, &RelaySender::onRetrieved);
    connect(&m_client, &CWebSocket::dataRetrievalError, this, &RelaySender::onRetrievalError);
}

void RelaySender::send(const QString &host, int port, const QString &pathAndQuery)
{
    const Request request{host, port, pathAndQuery};
    if (m_sending)
        m_waiting = request;
    else
        start(request);
}

void RelaySender::start(const Request &request)
{
    m_sending = true;
    m_failed = false;
    m_client.setHost(request.host);
    m_client.setPort(request.port);
    m_client.setPath(request.pathAndQuery);
    m_client.retrieveData();
}

void RelaySender::onRetrieved()
{
    concludeLater();
}

void RelaySender::onRetrievalError()
{
    m_failed = true;
    concludeLater();
}

// A time-out reports the partial reply and then the failure, one right after
// the other: the outcome is judged once both are in, from the event loop,
// where the client is free for the next request.
void RelaySender::concludeLater()
{
    if (!m_sending || m_concluding)
        return;
    m_concluding = true;
    QMetaObject::invokeMethod(this, &RelaySender::conclude, Qt::QueuedConnection);
}

void RelaySender::conclude()
{
    m_concluding = false;
    m_sending = false;
    const QString problem =
        m_failed ? relayFailureReason(m_client.lastFailure(), m_client.lastSocketError())
                 : relayReplyProblem(m_client.response());
    if (problem.isEmpty())
        emit delivered();
    else
        emit notSent(problem);
    if (m_waiting && !m_sending) {
        const Request next = *m_waiting;
        m_waiting.reset();
        start(next);
    }
}
