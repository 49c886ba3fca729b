#ifndef ORVELLA_TEST_TCPRELAY_H
#define ORVELLA_TEST_TCPRELAY_H

#include <QObject>
#include <QTcpServer>

class QTcpSocket;

// Passes TCP connections on 127.0.0.1 through to another port, and can cut
// them all at once, as a broken network would: neither side gets to say
// goodbye.
class TcpRelay : public QObject
{
    Q_OBJECT
public:
    explicit TcpRelay(quint16 target, QObject *parent = nullptr);

    quint16 port() const { return m_server.serverPort(); }
    int connections() const { return m_pairs; }
    // Drops every connection passing through; new ones are passed on again.
    void cut();

private:
    void onConnection();

    QTcpServer m_server;
    quint16 m_target;
    int m_pairs = 0;
};

#endif
