#ifndef ORVELLA_SOCKETEXCHANGE_H
#define ORVELLA_SOCKETEXCHANGE_H

#include <QAbstractSocket>
#include <QByteArray>
#include <QTimer>

#include <optional>

class QObject;
class QTcpSocket;

// The socket handling both raw HTTP clients share: one exchange at a time
// over a TCP socket the client owns, bounded by a deadline. The client's own
// slots receive the socket's reports and ask this whether the exchange is
// still open: whatever the socket reports after an exchange ended is ignored.
class SocketExchange
{
public:
    // The deadline repeats at timeoutMs and is stopped; every end stops it,
    // so it fires at most once per exchange.
    SocketExchange(QTcpSocket &socket, int timeoutMs);

    // Connects the socket's connected(), disconnected(), readyRead() and
    // error() and the deadline's timeout() to client's slots onConnect(),
    // onDisconnect(), onDataArrival(), onError(QAbstractSocket::SocketError)
    // and onTimeout(), in that order.
    void connectTo(QObject *client);

    void setTimeout(int ms) { m_deadline.setInterval(ms); }
    int timeout() const { return m_deadline.interval(); }
    void stopDeadline() { m_deadline.stop(); }

    // Between begin() and the end of that exchange.
    bool isOpen() const { return m_open; }

    // Opens an exchange: (re)starts the deadline and connects, read-write,
    // over any IP protocol.
    void begin(const QString &host, quint16 port);

    // Stops the deadline and ends the open exchange; false when none was open.
    bool end();

    // Ends the exchange without a completion: abort() reports a disconnection
    // at once, while the exchange no longer counts as open.
    void abandon();

    // Closes the socket if it is open or on its way; a connected socket
    // reports its disconnection before this returns.
    void close();

    // On connected(): false, with the connection dropped, once the exchange
    // it was made for is over.
    bool acceptConnection();

    // On readyRead(): what arrived, or nothing once the exchange is over (it
    // is read and dropped then, so the socket keeps none of it).
    std::optional<QByteArray> readArrived();

    // On error(): whether it fails the open exchange. The server closing the
    // connection is the normal end: the disconnection follows and delivers.
    bool isFailure(QAbstractSocket::SocketError error) const;

private:
    QTcpSocket &m_socket;
    QTimer m_deadline;
    bool m_open = false;
};

#endif
