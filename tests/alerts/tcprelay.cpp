#include "tcprelay.h"

#include <QTcpSocket>

#include <memory>

TcpRelay::TcpRelay(quint16 target, QObject *parent) : QObject(parent), m_target(target)
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, &TcpRelay::onConnection);
}

void TcpRelay::onConnection()
{
    while (QTcpSocket *inner = m_server.nextPendingConnection()) {
        auto *outer = new QTcpSocket(this);
        inner->setParent(this);
        ++m_pairs;
        auto pass = [](QTcpSocket *from, QTcpSocket *to) {
            if (to->state() == QAbstractSocket::ConnectedState)
                to->write(from->readAll());
        };
        connect(inner, &QTcpSocket::readyRead, outer, [=] { pass(inner, outer); });
        connect(outer, &QTcpSocket::connected, inner, [=] { pass(inner, outer); });
        connect(outer, &QTcpSocket::readyRead, inner, [=] { pass(outer, inner); });
        auto closed = std::make_shared<bool>(false);
        auto close = [this, inner, outer, closed] {
            if (*closed)
                return;
            *closed = true;
            --m_pairs;
            inner->abort();
            outer->abort();
            inner->deleteLater();
            outer->deleteLater();
        };
        for (QTcpSocket *socket : {inner, outer}) {
            connect(socket, &QTcpSocket::disconnected, this, close);
            connect(socket, &QTcpSocket::errorOccurred, this, close);
        }
        outer->connectToHost(QHostAddress::LocalHost, m_target);
    }
}

void TcpRelay::cut()
{
    for (QTcpSocket *socket : findChildren<QTcpSocket *>())
        socket->abort();
}
