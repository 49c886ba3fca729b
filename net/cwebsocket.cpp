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

CWebSocket::CWebSocket(QObject *parent, int tag) : QThread(parent), m_tag(tag)
{
    m_socket = new QTcpSocket(this);
    connect(m_socket, SIGNAL(connected()), this, SLOT(onConnect()));
    connect(m_socket, SIGNAL(disconnected()), this, SLOT(onDisconnect()));
    connect(m_socket, SIGNAL(readyRead()), this, SLOT(onDataArrival()));
    connect(m_socket, SIGNAL(error(QAbstractSocket::SocketError)), this,
            SLOT(onError(QAbstractSocket::SocketError)));
    connect(&m_timer, SIGNAL(timeout()), this, SLOT(onTimeout()));
    m_timer.setInterval(LongestTimeout);
    m_timer.stop();
}

CWebSocket::~CWebSocket()
{
    m_timer.stop();
    // Closing may report a disconnection; nobody should hear of it now.
    m_open = false;
    if (m_socket->isOpen())
        m_socket->close();
    delete m_socket;
}

void CWebSocket::run()
{
    exec();
}

void CWebSocket::retrieveData()
{
    if (m_open)
        return;
    if (!headerTextsAreSafe()) {
        // Queued, so a caller that connects to the signal after this call
        // still hears of the failure.
        QMetaObject::invokeMethod(
            this, [this] { fail(Failure::UnsafeRequest); }, Qt::QueuedConnection);
        return;
    }
    m_open = true;
    m_bytesThisExchange = 0;
    m_timer.start();
    m_socket->connectToHost(m_host, quint16(m_port), QIODevice::ReadWrite,
                            QAbstractSocket::AnyIPProtocol);
}

void CWebSocket::reset()
{
    m_timer.stop();
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
        m_timer.setInterval(ms);
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

// Ends the open exchange without a completion: abort() reports the
// disconnection at once, and onDisconnect() ignores it.
void CWebSocket::abandon()
{
    m_open = false;
    m_timer.stop();
    m_socket->abort();
}

void CWebSocket::onConnect()
{
    if (!m_open) {
        m_socket->abort();
        return;
    }
    // The texts may have changed since retrieveData().
    if (!headerTextsAreSafe()) {
        abandon();
        fail(Failure::UnsafeRequest);
        return;
    }
    const QByteArray bytes = composedRequest();
    m_receiveBuffer = QStringLiteral("");
    m_socket->write(bytes);
}

void CWebSocket::onDisconnect()
{
    if (!m_open)
        return;
    m_timer.stop();
    m_open = false;
    m_response = m_receiveBuffer;
    m_totalReceived += m_response.size();
    if (m_socket->isOpen())
        m_socket->close();
    emit dataRetrieved();
}

void CWebSocket::onDataArrival()
{
    const QByteArray chunk = m_socket->readAll();
    if (!m_open)
        return;
    m_bytesThisExchange += chunk.size();
    if (m_bytesThisExchange > MaxReplyBytes) {
        abandon();
        fail(Failure::ReplyTooLong);
        return;
    }
    m_receiveBuffer += decodeReplyChunk(chunk);
}

void CWebSocket::onError(QAbstractSocket::SocketError error)
{
    m_timer.stop();
    // A remote close is the normal end; the disconnection delivers the reply.
    if (error == QAbstractSocket::RemoteHostClosedError || !m_open)
        return;
    if (m_socket->isOpen())
        m_socket->close();
    m_open = false;
    m_lastSocketError = error;
    fail(Failure::Socket);
}

void CWebSocket::onTimeout()
{
    m_timer.stop();
    // Closing a connected socket completes the exchange with what arrived
    // before the failure is reported.
    if (m_socket->isOpen() || m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->close();
    m_open = false;
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
