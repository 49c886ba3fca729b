#ifndef ORVELLA_TEST_HOSTILESERVER_H
#define ORVELLA_TEST_HOSTILESERVER_H

#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>

// A server on 127.0.0.1, in a thread of its own so that its work never
// counts against the client's event loop. Once a whole request has arrived on
// a connection it sends the reply (all at once, or one byte every dripMs) and
// then ends as told.
class HostileServer
{
public:
    enum class Ending { Close, Reset, Hang };

    HostileServer(const QByteArray &reply, int dripMs, Ending ending)
        : m_reply(reply), m_dripMs(dripMs), m_ending(ending)
    {
        m_thread.start();
        m_home.moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            &m_home, [this] { listen(); }, Qt::BlockingQueuedConnection);
    }

    ~HostileServer()
    {
        QMetaObject::invokeMethod(
            &m_home, [this] { qDeleteAll(m_home.children()); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    quint16 port() const { return m_port; }

private:
    void listen()
    {
        auto *server = new QTcpServer(&m_home);
        server->listen(QHostAddress::LocalHost);
        m_port = server->serverPort();
        QObject::connect(server, &QTcpServer::newConnection, [this, server] {
            while (QTcpSocket *socket = server->nextPendingConnection()) {
                socket->setParent(&m_home);
                auto *request = new QByteArray;
                QObject::connect(socket, &QObject::destroyed, [request] { delete request; });
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket, request] {
                    const bool answered = request->endsWith("\r\n\r\n");
                    *request += socket->readAll();
                    if (!answered && request->endsWith("\r\n\r\n"))
                        answer(socket);
                });
            }
        });
    }

    void answer(QTcpSocket *socket)
    {
        if (m_dripMs > 0) {
            auto *drip = new QTimer(socket);
            auto *sent = new int(0);
            QObject::connect(drip, &QObject::destroyed, [sent] { delete sent; });
            QObject::connect(drip, &QTimer::timeout, [this, socket, sent] {
                if (*sent < m_reply.size() && socket->state() == QAbstractSocket::ConnectedState)
                    socket->write(m_reply.mid((*sent)++, 1));
            });
            drip->start(m_dripMs);
            return;
        }
        socket->write(m_reply);
        if (m_ending == Ending::Close) {
            socket->disconnectFromHost();
        } else if (m_ending == Ending::Reset) {
            socket->flush();
            // RST instead of FIN.
            const linger hard{1, 0};
            ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                         sizeof hard);
            socket->abort();
        }
    }

    const QByteArray m_reply;
    const int m_dripMs;
    const Ending m_ending;
    QThread m_thread;
    QObject m_home;
    quint16 m_port = 0;
};

#endif
