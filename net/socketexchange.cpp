#include "socketexchange.h"

#include <QTcpSocket>

SocketExchange::SocketExchange(QTcpSocket &socket, int timeoutMs) : m_socket(socket)
{
    m_deadline.setInterval(timeoutMs);
    m_deadline.stop();
}

void SocketExchange::connectTo(QObject *client)
{
    QObject::connect(&m_socket, SIGNAL(connected()), client, SLOT(onConnect()));
    QObject::connect(&m_socket, SIGNAL(disconnected()), client, SLOT(onDisconnect()));
    QObject::connect(&m_socket, SIGNAL(readyRead()), client, SLOT(onDataArrival()));
    QObject::connect(&m_socket, SIGNAL(error(QAbstractSocket::SocketError)), client,
                     SLOT(onError(QAbstractSocket::SocketError)));
    QObject::connect(&m_deadline, SIGNAL(timeout()), client, SLOT(onTimeout()));
}

void SocketExchange::begin(const QString &host, quint16 port)
{
    m_open = true;
    m_deadline.start();
    m_socket.connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

bool SocketExchange::end()
{
    m_deadline.stop();
    const bool wasOpen = m_open;
    m_open = false;
    return wasOpen;
}

void SocketExchange::abandon()
{
    end();
    m_socket.abort();
}

void SocketExchange::close()
{
    if (m_socket.isOpen() || m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.close();
}

bool SocketExchange::acceptConnection()
{
    if (!m_open)
        m_socket.abort();
    return m_open;
}

std::optional<QByteArray> SocketExchange::readArrived()
{
    const QByteArray chunk = m_socket.readAll();
    if (!m_open)
        return std::nullopt;
    return chunk;
}

bool SocketExchange::isFailure(QAbstractSocket::SocketError error) const
{
    return m_open && error != QAbstractSocket::RemoteHostClosedError;
}
