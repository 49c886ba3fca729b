#ifndef ORVELLA_TEST_LOCALPEER_H
#define ORVELLA_TEST_LOCALPEER_H

#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

// A server on 127.0.0.1 that accepts every connection and keeps what each
// one sent; the test answers through the accepted sockets itself.
class LocalPeer
{
public:
    LocalPeer()
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                const int index = sockets.size();
                sockets.append(socket);
                received.append(QByteArray());
                QObject::connect(socket, &QTcpSocket::readyRead,
                                 [this, socket, index] { received[index] += socket->readAll(); });
            }
        });
    }

    quint16 port() const { return server.serverPort(); }
    int connections() const { return sockets.size(); }
    QTcpSocket *socket(int i = 0) const { return sockets.value(i); }
    QByteArray request(int i = 0) const { return received.value(i); }
    bool hasWholeRequest(int i = 0) const { return request(i).endsWith("\r\n\r\n"); }

    // Sends the reply and closes the connection.
    void answer(const QByteArray &reply, int i = 0)
    {
        sockets[i]->write(reply);
        sockets[i]->disconnectFromHost();
    }

    // A port on 127.0.0.1 where nothing listens.
    static quint16 closedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        return probe.serverPort();
    }

    QTcpServer server;
    QList<QTcpSocket *> sockets;
    QList<QByteArray> received;
};

#endif
