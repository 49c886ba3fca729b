#include "alertdispatch.h"
#include "cwebsocket.h"
#include "localpeer.h"

#include <QtTest>

using Vesk::QtLib::Web::CWebSocket;

namespace
{

// Hands relay paths to an HTTP client the way the window does, aimed at a
// local server instead of the maker's.
class ClientActions : public AlertActions
{
public:
    ClientActions(CWebSocket &client, quint16 port) : m_client(client), m_port(port) {}
    void playSound(const QString &) override {}
    void requestRelay(const QString &pathAndQuery) override
    {
        m_client.setHost(QStringLiteral("127.0.0.1"));
        m_client.setPort(m_port);
        m_client.setPath(pathAndQuery);
        m_client.retrieveData();
    }

private:
    CWebSocket &m_client;
    quint16 m_port;
};

} // namespace

class TestRelayRequest : public QObject
{
    Q_OBJECT
private slots:
    void addressArrivesIntact_data();
    void addressArrivesIntact();
};

void TestRelayRequest::addressArrivesIntact_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("address");
    QTest::newRow("plain") << "alert@cam.example.org"
                           << "alert@cam.example.org";
    QTest::newRow("plus and percent") << "a+b%c@cam.org"
                                      << "a+b%c@cam.org";
    QTest::newRow("capitals, spaces around") << "  ALERT@CAM.ORG\t"
                                             << "ALERT@CAM.ORG";
}

void TestRelayRequest::addressArrivesIntact()
{
    QFETCH(QString, typed);
    QFETCH(QString, address);
    LocalPeer peer;
    CWebSocket client(nullptr, 0);
    ClientActions actions(client, peer.port());
    AlertRequest request;
    request.level = 25;
    request.threshold = 25;
    request.sendEmail = true;
    request.emailAddress = typed;
    dispatchAlerts(request, actions);
    QTRY_VERIFY(peer.hasWholeRequest());

    const QByteArray firstLine = peer.request().left(peer.request().indexOf("\r\n"));
    const QByteArray head = "GET /updates/orvemailer.php?x=";
    QVERIFY2(firstLine.startsWith(head) && firstLine.endsWith(" HTTP/1.0"), firstLine.constData());
    QByteArray value = firstLine.mid(head.size(), firstLine.size() - head.size() - 9);
    // Decoded as a web form would be, where "+" stands for a space.
    QVERIFY(!value.contains(' '));
    value.replace('+', ' ');
    QCOMPARE(QUrl::fromPercentEncoding(value), address);
}

QTEST_GUILESS_MAIN(TestRelayRequest)
#include "tst_relayrequest.moc"
