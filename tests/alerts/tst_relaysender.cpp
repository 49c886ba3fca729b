#include "localpeer.h"
#include "relayrequest.h"
#include "relaysender.h"

#include <QtTest>

using Vesk::QtLib::Web::CWebSocket;

namespace
{

QString alertPath(int n)
{
    return QStringLiteral("/updates/orvemailer.php?x=a%1@cam.example.org").arg(n);
}

} // namespace

class TestRelaySender : public QObject
{
    Q_OBJECT
private slots:
    void outcome_data();
    void outcome();
    void refusedIsReportedAndTriedAgain();
    void timeOutIsReported();
    void burstKeepsTheNewest();
    void replyProblem_data();
    void replyProblem();
};

// One request answered as the row says: what is reported, and that the
// request went out unchanged.
void TestRelaySender::outcome_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("reason"); // null: delivered
    QTest::newRow("200") << QByteArray("HTTP/1.0 200 OK\r\n\r\nqueued") << QString();
    QTest::newRow("204") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << QString();
    QTest::newRow("500") << QByteArray("HTTP/1.0 500 Internal Server Error\r\n\r\nboom")
                         << QStringLiteral("server answered 500");
    QTest::newRow("404") << QByteArray("HTTP/1.0 404 Not Found\r\n\r\n")
                         << QStringLiteral("server answered 404");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("no reply");
    QTest::newRow("not HTTP") << QByteArray("OK") << QStringLiteral("unreadable reply");
    QTest::newRow("too long") << "HTTP/1.0 200 OK\r\n\r\n" + QByteArray(int(CWebSocket::MaxReplyBytes), 'x')
                              << QStringLiteral("reply too long");
}

void TestRelaySender::outcome()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, reason);
    LocalPeer relay;
    CWebSocket client(nullptr, 0);
    RelaySender sender(client);
    QSignalSpy notSent(&sender, &RelaySender::notSent);
    QSignalSpy delivered(&sender, &RelaySender::delivered);
    sender.send(QStringLiteral("127.0.0.1"), relay.port(), alertPath(1));
    QTRY_VERIFY(relay.hasWholeRequest());
    QCOMPARE(relay.request(), relayRequestBytes(alertPath(1).toLatin1()));
    relay.answer(reply);
    QTRY_COMPARE(notSent.count() + delivered.count(), 1);
    if (reason.isNull()) {
        QCOMPARE(delivered.count(), 1);
    } else {
        QCOMPARE(notSent.count(), 1);
        QCOMPARE(notSent.first().first().toString(), reason);
    }
    QVERIFY(!sender.isSending());
}

void TestRelaySender::refusedIsReportedAndTriedAgain()
{
    CWebSocket client(nullptr, 0);
    RelaySender sender(client);
    QSignalSpy notSent(&sender, &RelaySender::notSent);
    const quint16 closed = LocalPeer::closedPort();
    sender.send(QStringLiteral("127.0.0.1"), closed, alertPath(1));
    QTRY_COMPARE(notSent.count(), 1);
    QCOMPARE(notSent.first().first().toString(), QStringLiteral("connection refused"));

    // The next alert goes out again, and reaches a relay that is back.
    LocalPeer relay;
    sender.send(QStringLiteral("127.0.0.1"), relay.port(), alertPath(2));
    QTRY_VERIFY(relay.hasWholeRequest());
    QCOMPARE(relay.request(), relayRequestBytes(alertPath(2).toLatin1()));
}

void TestRelaySender::timeOutIsReported()
{
    LocalPeer relay;
    CWebSocket client(nullptr, 0);
    client.setTimeout(300);
    RelaySender sender(client);
    QSignalSpy notSent(&sender, &RelaySender::notSent);
    QSignalSpy delivered(&sender, &RelaySender::delivered);
    sender.send(QStringLiteral("127.0.0.1"), relay.port(), alertPath(1));
    QTRY_VERIFY(relay.hasWholeRequest());
    // Half a reply, then nothing.
    relay.socket()->write("HTTP/1.0 200 OK\r\n");
    QTRY_COMPARE(notSent.count(), 1);
    QCOMPARE(notSent.first().first().toString(), QStringLiteral("timed out"));
    QCOMPARE(delivered.count(), 0);
    QVERIFY(!sender.isSending());
}

// 184 alerts while the relay holds the first request: the first is answered,
// then only the newest one goes, then nothing more.
void TestRelaySender::burstKeepsTheNewest()
{
    LocalPeer relay;
    CWebSocket client(nullptr, 0);
    RelaySender sender(client);
    QSignalSpy notSent(&sender, &RelaySender::notSent);
    QSignalSpy delivered(&sender, &RelaySender::delivered);
    sender.send(QStringLiteral("127.0.0.1"), relay.port(), alertPath(1));
    QTRY_VERIFY(relay.hasWholeRequest(0));
    for (int n = 2; n <= 184; ++n)
        sender.send(QStringLiteral("127.0.0.1"), relay.port(), alertPath(n));
    QVERIFY(sender.hasWaiting());
    QCOMPARE(relay.connections(), 1);

    relay.answer("HTTP/1.0 500 Internal Server Error\r\n\r\n", 0);
    QTRY_COMPARE(notSent.count(), 1);
    QCOMPARE(notSent.first().first().toString(), QStringLiteral("server answered 500"));
    QTRY_VERIFY(relay.hasWholeRequest(1));
    QCOMPARE(relay.request(1), relayRequestBytes(alertPath(184).toLatin1()));
    QVERIFY(!sender.hasWaiting());

    relay.answer("HTTP/1.0 200 OK\r\n\r\n", 1);
    QTRY_COMPARE(delivered.count(), 1);
    QVERIFY(!sender.isSending());
    QCoreApplication::processEvents();
    QCOMPARE(relay.connections(), 2);
    QCOMPARE(notSent.count(), 1);
}

void TestRelaySender::replyProblem_data()
{
    QTest::addColumn<QString>("response");
    QTest::addColumn<QString>("problem");
    QTest::newRow("200") << "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok" << QString();
    QTest::newRow("299") << "HTTP/1.0 299 Whatever\r\n\r\n" << QString();
    QTest::newRow("301") << "HTTP/1.0 301 Moved\r\nLocation: /x\r\n\r\n"
                         << "server answered 301";
    QTest::newRow("headers cut off") << "HTTP/1.0 200 OK\r\nX-A: b" << "unreadable reply";
    QTest::newRow("status in the body only") << "hello\r\n\r\nHTTP/1.0 200 OK\r\n\r\n"
                                             << "unreadable reply";
}

void TestRelaySender::replyProblem()
{
    QFETCH(QString, response);
    QFETCH(QString, problem);
    QCOMPARE(relayReplyProblem(response), problem);
}

QTEST_GUILESS_MAIN(TestRelaySender)
#include "tst_relaysender.moc"
