#include "cwebsocket.h"

#include <QTcpSocket>

namespace Vesk
{
namespace QtLib
{
namespace Web
{

namespace
{

const int LongestTimeout = 25000;

bool holdsLineBreak(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

} // namespace

QString decodeReplyChunk(const QByteArray &chunk)
{
    const int nul = chunk.indexOf('\0');
    return QString::fromUtf8(chunk.constData(), nul >= 0 ? nul : chunk.size());
}

CWebSocket::CWebSocket(QObject *parent, int tag)
    : QThread(parent), m_socket(new QTcpSocket(this)), m_exchange(*m_socket, LongestTimeout),
      m_tag(tag)
{
    m_exchange.connectTo(this);
}

CWebSocket::~CWebSocket()
{
    // Closing may report a disconnection; nobody should hear of it now.
    m_exchange.end();
    m_exchange.close();
    delete m_socket;
}

void CWebSocket::run()
{
    exec();
}

void CWebSocket::retrieveData()
{
    if (m_exchange.isOpen())
        return;
    if (!headerTextsAreSafe()) {
        // Queued, so a caller that connects to the signal after this call
        // still hears of the failure.
        QMetaObject::invokeMethod(
            this, [this] { fail(Failure::UnsafeRequest); }, Qt::QueuedConnection);
        return;
    }
    m_bytesThisExchange = 0;
    m_exchange.begin(m_host, quint16(m_port));
}

void CWebSocket::reset()
{
    m_exchange.stopDeadline();
    const QString empty = QStringLiteral("");
    m_path = empty;
    // Null, not empty: an empty cookie or referer would still send its line.
    m_cookie = QString();
    m_host = empty;
    m_referer = QString();
    m_receiveBuffer = empty;
    m_response = empty;
    m_totalReceived = 0;
    m_port = 80;
    m_request = empty;
}

void CWebSocket::setRequest(const QString &request)
{
    m_request = request;
}

void CWebSocket::setTimeout(int ms)
{
    if (ms <= LongestTimeout)
        m_exchange.setTimeout(ms);
}

bool CWebSocket::headerTextsAreSafe() const
{
    return !holdsLineBreak(m_host) && !holdsLineBreak(m_path) && !holdsLineBreak(m_cookie) &&
           !holdsLineBreak(m_referer);
}

QByteArray CWebSocket::composedRequest() const
{
    QString text = m_request;
    if (text.isEmpty()) {
        const QString crlf = QStringLiteral("\r\n");
        text = QStringLiteral("GET ") + m_path + QStringLiteral(" HTTP/1.0") + crlf +
               QStringLiteral("Host: ") + m_host + crlf + QStringLiteral("Connection: close") +
               crlf + QStringLiteral("User-Agent: Lantrel") + crlf +
               QStringLiteral("Accept: text/plain") + crlf +
               QStringLiteral("Accept-Language: en-GB,en-US;q=0.8,en;q=0.6") + crlf +
               QStringLiteral("Accept-Charset: ISO-8859-1,UTF-8;q=0.7,*;q=0.7") + crlf +
               QStringLiteral("Cache-Control: no-cache") + crlf +
               QStringLiteral("Referer: http://www.search.example/webhp?hl=en-GB") + crlf +
               QStringLiteral("X-JAVASCRIPT-ENABLED: false") + crlf;
        if (!m_referer.isNull())
            text += QStringLiteral("Referer: ") + m_referer + crlf;
        if (!m_cookie.isNull())
            text += QStringLiteral("Cookie: ") + m_cookie + crlf;
        text += crlf;
    }
    QByteArray bytes = text.toUtf8();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return bytes;
}

void CWebSocket::onConnect()
{
    if (!m_exchange.acceptConnection())
        return;
    // The texts may have changed since retrieveData().
    if (!headerTextsAreSafe()) {
        m_exchange.abandon();
        fail(Failure::UnsafeRequest);
        return;
    }
    const QByteArray bytes = composedRequest();
    m_receiveBuffer = QStringLiteral("");
    m_socket->write(bytes);
}

void CWebSocket::onDisconnect()
{
    if (!m_exchange.end())
        return;
    m_response = m_receiveBuffer;
    m_totalReceived += m_response.size();
    m_exchange.close();
    emit dataRetrieved();
}

void CWebSocket::onDataArrival()
{
    const std::optional<QByteArray> chunk = m_exchange.readArrived();
    if (!chunk)
        return;
    m_bytesThisExchange += chunk->size();
    if (m_bytesThisExchange > MaxReplyBytes) {
        m_exchange.abandon();
        fail(Failure::ReplyTooLong);
        return;
    }
    m_receiveBuffer += decodeReplyChunk(*chunk);
}

void CWebSocket::onError(QAbstractSocket::SocketError error)
{
    m_exchange.stopDeadline();
    if (!m_exchange.isFailure(error))
        return;
    m_exchange.close();
    m_exchange.end();
    m_lastSocketError = error;
    fail(Failure::Socket);
}

void CWebSocket::onTimeout()
{
    m_exchange.stopDeadline();
    // Closing a connected socket completes the exchange with what arrived
    // before the failure is reported.
    m_exchange.close();
    m_exchange.end();
    fail(Failure::TimedOut);
}

void CWebSocket::fail(Failure failure)
{
    m_lastFailure = failure;
    emit dataRetrievalError();
}

} // namespace Web
} // namespace QtLib
} // namespace Vesk
