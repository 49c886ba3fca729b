#ifndef ORVELLA_CWEBSOCKET_H
#define ORVELLA_CWEBSOCKET_H

#include "socketexchange.h"

#include <QAbstractSocket>
#include <QString>
#include <QThread>

class QTcpSocket;

namespace Vesk
{
namespace QtLib
{
namespace Web
{

// One hand-made HTTP/1.0 GET exchange at a time over a raw TCP socket. The
// thread is never started: socket and timer run on the creating thread's event
// loop, and the outcome is reported by dataRetrieved() or dataRetrievalError().
class CWebSocket : public QThread
{
    Q_OBJECT
public:
    CWebSocket(QObject *parent, int tag);
    ~CWebSocket() override;

    // Starts one exchange and returns at once; does nothing while one is open.
    void retrieveData();
    void reset();

    void setRequest(const QString &request);
    QString auxText() const { return m_auxText; }
    QString host() const { return m_host; }
    QString path() const { return m_path; }
    QString cookie() const { return m_cookie; }
    int port() const { return m_port; }
    QString referer() const { return m_referer; }
    QString response() const { return m_response; }
    QString receiveBuffer() const { return m_receiveBuffer; }
    int totalReceived() const { return m_totalReceived; }
    int tag() const { return m_tag; }
    void setHost(const QString &host) { m_host = host; }
    void setPath(const QString &path) { m_path = path; }
    void setCookie(const QString &cookie) { m_cookie = cookie; }
    void setPort(int port) { m_port = port; }
    void setAuxText(const QString &text) { m_auxText = text; }
    // Values above 25000 ms are ignored.
    void setTimeout(int ms);
    int timeout() const { return m_exchange.timeout(); }
    void setTag(int tag) { m_tag = tag; }
    void setReferer(const QString &referer) { m_referer = referer; }
    void setReceiveBuffer(const QString &text) { m_receiveBuffer = text; }

    // The largest reply an exchange accepts; past it the exchange fails.
    static constexpr qint64 MaxReplyBytes = 1024 * 1024;

    // Why the last exchange that failed did; None until one failed.
    enum class Failure { None, Socket, TimedOut, ReplyTooLong, UnsafeRequest };
    Failure lastFailure() const { return m_lastFailure; }
    // The socket's error when lastFailure() is Socket.
    QAbstractSocket::SocketError lastSocketError() const { return m_lastSocketError; }

signals:
    void dataRetrieved();
    void dataRetrievalError();

protected:
    void run() override;

private slots:
    void onConnect();
    void onDisconnect();
    void onDataArrival();
    void onError(QAbstractSocket::SocketError error);
    void onTimeout();

private:
    bool headerTextsAreSafe() const;
    QByteArray composedRequest() const;
    void fail(Failure failure);

    QString m_host;
    QString m_path;
    QString m_cookie;
    QString m_referer;
    QString m_receiveBuffer;
    QString m_auxText;
    QString m_request;
    int m_port = 80;
    int m_totalReceived = 0;
    QTcpSocket *m_socket = nullptr;
    // The time-out timer and whether an exchange is open.
    SocketExchange m_exchange;
    QString m_response;
    int m_tag = 0;
    qint64 m_bytesThisExchange = 0;
    Failure m_lastFailure = Failure::None;
    QAbstractSocket::SocketError m_lastSocketError = QAbstractSocket::UnknownSocketError;
};

// One received chunk as the client keeps it: the bytes before the first NUL,
// as UTF-8 text.
QString decodeReplyChunk(const QByteArray &chunk);

} // namespace Web
} // namespace QtLib
} // namespace Vesk

#endif
