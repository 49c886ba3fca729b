#include "cwebsocket.h"
#include "localpeer.h"
#include "relayrequest.h"

#include <QSignalSpy>
#include <QtTest>

using Vesk::QtLib::Web::CWebSocket;

namespace
{

// The ten fixed lines for host 127.0.0.1 and path /a?b=c, without the blank
// line that ends them. The peer never listens on 80, so this also shows the
// Host line carries no port.
const QByteArray FixedLines = relayRequestBytes("/a?b=c").chopped(2);

void aim(CWebSocket &client, const LocalPeer &peer)
{
    client.setHost(QStringLiteral("127.0.0.1"));
    client.setPort(peer.port());
    client.setPath(QStringLiteral("/a?b=c"));
}

QTcpSocket *socketOf(CWebSocket &client)
{
    return client.findChild<QTcpSocket *>();
}

} // namespace

class TestCWebSocket : public QObject
{
    Q_OBJECT
private slots:
    void composedRequest_data();
    void composedRequest();
    void requestTextSentAlone_data();
    void requestTextSentAlone();
    void replyAssembly_data();
    void replyAssembly();
    void timeoutAfterConnect();
    void timeoutLimit();
    void refusedConnectionFails();
    void lineBreakRefused_data();
    void lineBreakRefused();
    void resetLeavesNoOptionalLines();
    void retrieveWhileOpen();
    void boundedReply_data();
    void boundedReply();
    void destroyedWhileOpen();
};

void TestCWebSocket::composedRequest_data()
{
    QTest::addColumn<QString>("referer");
    QTest::addColumn<QString>("cookie");
    QTest::addColumn<QByteArray>("extraLines");
    QTest::newRow("host and path only") << QString() << QString() << QByteArray();
    QTest::newRow("empty referer")
        << QStringLiteral("") << QString() << QByteArray("Referer: \r\n");
    QTest::newRow("empty cookie") << QString() << QStringLiteral("") << QByteArray("Cookie: \r\n");
    QTest::newRow("referer then cookie")
        << QStringLiteral("http://r.example/") << QStringLiteral("k=v")
        << QByteArray("Referer: http://r.example/\r\nCookie: k=v\r\n");
}

void TestCWebSocket::composedRequest()
{
    QFETCH(QString, referer);
    QFETCH(QString, cookie);
    QFETCH(QByteArray, extraLines);
    LocalPeer peer;
    CWebSocket client(nullptr, 0);
    aim(client, peer);
    if (!referer.isNull())
        client.setReferer(referer);
    if (!cookie.isNull())
        client.setCookie(cookie);
    QSignalSpy done(&client, SIGNAL(dataRetrieved()));
    client.retrieveData();
    QTRY_VERIFY(peer.hasWholeRequest());
    QCOMPARE(peer.request(), FixedLines + extraLines + "\r\n");
    peer.answer("ok");
    QTRY_COMPARE(done.count(), 1);
}

void TestCWebSocket::requestTextSentAlone_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("as given") << QStringLiteral("PING /x\r\n") << QByteArray("PING /x\r\n");
    QTest::newRow("up to NUL") << QStringLiteral("AB") + QChar(0) + QStringLiteral("CD")
                               << QByteArray("AB");
}

void TestCWebSocket::requestTextSentAlone()
{
    QFETCH(QString, request);
    QFETCH(QByteArray, sent);
    LocalPeer peer;
    CWebSocket client(nullptr, 0);
    aim(client, peer);
    client.setCookie(QStringLiteral("k=v"));
    client.setRequest(request);
    QSignalSpy done(&client, SIGNAL(dataRetrieved()));
    client.retrieveData();
    QTRY_COMPARE(peer.request(), sent);
    peer.answer("ok");
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(peer.request(), sent);
}

void TestCWebSocket::replyAssembly_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QString>("reply");
    QTest::newRow("one chunk") << QList<QByteArray>{"HTTP/1.0 200 OK\r\n\r\nbody"}
                               << QStringLiteral("HTTP/1.0 200 OK\r\n\r\nbody");
    QTest::newRow("chunks in order") << QList<QByteArray>{"HTTP/1.0 200 OK\r\n", "\r\nhel", "lo"}
                                     << QStringLiteral("HTTP/1.0 200 OK\r\n\r\nhello");
    QTest::newRow("NUL drops rest of its chunk")
        << QList<QByteArray>{QByteArray("ab\0cd", 5), "ef"} << QStringLiteral("abef");
    QTest::newRow("UTF-8") << QList<QByteArray>{"\xc3\xa9"} << QString(QChar(0xe9));
    QTest::newRow("empty reply") << QList<QByteArray>{} << QString();
}

void TestCWebSocket::replyAssembly()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QString, reply);
    LocalPeer peer;
    CWebSocket client(nullptr, 0);
    aim(client, peer);
    QSignalSpy done(&client, SIGNAL(dataRetrieved()));
    QSignalSpy failed(&client, SIGNAL(dataRetrievalError()));
    client.retrieveData();
    QTRY_VERIFY(peer.hasWholeRequest());
    // Each chunk is read before the next is sent, so they arrive apart.
    QString soFar;
    for (const QByteArray &chunk : chunks) {
        peer.socket()->write(chunk);
        soFar += QString::fromUtf8(
            chunk.left(chunk.indexOf('\0') >= 0 ? chunk.indexOf('\0') : chunk.size()));
        QTRY_COMPARE(client.receiveBuffer(), soFar);
    }
    // The remote close ends the exchange normally.
    peer.socket()->disconnectFromHost();
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(client.response(), reply);
    QCOMPARE(client.totalReceived(), reply.size());
}

void TestCWebSocket::timeoutAfterConnect()
{
    LocalPeer peer;
    CWebSocket client(nullptr, 0);
    aim(client, peer);
    client.setTimeout(2000);
    QStringList order;
    connect(&client, &CWebSocket::dataRetrieved, [&] { order << QStringLiteral("retrieved"); });
    connect(&client, &CWebSocket::dataRetrievalError, [&] { order << QStringLiteral("error"); });
    client.retrieveData();
    QTRY_VERIFY(peer.hasWholeRequest());
    peer.socket()->write("partial");
    QTRY_COMPARE(client.receiveBuffer(), QStringLiteral("partial"));
    // The server never closes: the time-out closes the socket, which delivers
    // what arrived first.
    QTRY_COMPARE_WITH_TIMEOUT(order, (QStringList{"retrieved", "error"}), 10000);
    QCOMPARE(client.response(), QStringLiteral("partial"));
}

void TestCWebSocket::timeoutLimit()
{
    CWebSocket client(nullptr, 0);
    QCOMPARE(client.timeout(), 25000);
    client.setTimeout(100);
    client.setTimeout(25000);
    QCOMPARE(client.timeout(), 25000);
    client.setTimeout(100);
    client.setTimeout(25001);
    QCOMPARE(client.timeout(), 100);
}

void TestCWebSocket::refusedConnectionFails()
{
    CWebSocket client(nullptr, 0);
    client.setHost(QStringLiteral("127.0.0.1"));
    client.setPort(LocalPeer::closedPort());
    client.setPath(QStringLiteral("/"));
    QSignalSpy done(&client, SIGNAL(dataRetrieved()));
    QSignalSpy failed(&client, SIGNAL(dataRetrievalError()));
    client.retrieveData();
    QTRY_COMPARE(failed.count(), 1);
    QCOMPARE(done.count(), 0);

    // Idle again: the next exchange goes ahead.
    LocalPeer peer;
    aim(client, peer);
    client.retrieveData();
    QTRY_VERIFY(peer.hasWholeRequest());
    peer.answer("ok");
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(failed.count(), 1);
}

void TestCWebSocket::lineBreakRefused_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::newRow("CR in host") << "host" << QStringLiteral("127.0.0.1\r");
    QTest::newRow("LF in path") << "path" << QStringLiteral("/a\nX-Evil: 1");
    QTest::newRow("CR LF in cookie") << "cookie" << QStringLiteral("k=v\r\nX-Evil: 1");
    QTest::newRow("LF in referer") << "referer" << QStringLiteral("http://r.example/\n");
}

void TestCWebSocket::lineBreakRefused()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    LocalPeer peer;
    CWebSocket client(nullptr, 0);
    aim(client, peer);
    if (field == "host")
        client.setHost(value);
    else if (field == "path")
        client.setPath(value);
    else if (field == "cookie")
        client.setCookie(value);
    else
        client.setReferer(value);
    client.retrieveData();
    QCOMPARE(socketOf(client)->state(), QAbstractSocket::UnconnectedState);
    // Listening only after the call still hears of the failure.
    QSignalSpy done(&client, SIGNAL(dataRetrieved()));
    QSignalSpy failed(&client, SIGNAL(dataRetrievalError()));
    QVERIFY(failed.wait());
    QCOMPARE(done.count(), 0);
    QCOMPARE(peer.connections(), 0);
}

void TestCWebSocket::resetLeavesNoOptionalLines()
{
    LocalPeer peer;
    CWebSocket client(nullptr, 0);
    client.setCookie(QStringLiteral("k=v"));
    client.setReferer(QStringLiteral("http://r.example/"));
    client.setRequest(QStringLiteral("PING\r\n"));
    client.setPort(8080);
    client.setAuxText(QStringLiteral("kept"));
    client.reset();
    QVERIFY(client.cookie().isNull());
    QVERIFY(client.referer().isNull());
    QCOMPARE(client.port(), 80);
    QCOMPARE(client.auxText(), QStringLiteral("kept"));
    aim(client, peer);
    client.retrieveData();
    QTRY_VERIFY(peer.hasWholeRequest());
    QCOMPARE(peer.request(), FixedLines + "\r\n");
}

namespace
{
QStringList warnings;
void recordWarning(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg)
        warnings << message;
}
} // namespace

void TestCWebSocket::retrieveWhileOpen()
{
    // The socket complains when asked to connect while it is busy.
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordWarning);
    auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });
    LocalPeer peer;
    CWebSocket client(nullptr, 0);
    aim(client, peer);
    QSignalSpy done(&client, SIGNAL(dataRetrieved()));
    QSignalSpy failed(&client, SIGNAL(dataRetrievalError()));
    client.retrieveData();
    client.retrieveData(); // while connecting
    QTRY_VERIFY(peer.hasWholeRequest());
    peer.socket()->write("first ");
    QTRY_COMPARE(client.receiveBuffer(), QStringLiteral("first "));
    client.retrieveData(); // while receiving
    QCOMPARE(socketOf(client)->state(), QAbstractSocket::ConnectedState);
    peer.answer("half");
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(client.response(), QStringLiteral("first half"));
    QCOMPARE(failed.count(), 0);
    QCOMPARE(peer.connections(), 1);
    QCOMPARE(peer.request(), FixedLines + "\r\n");
    QCOMPARE(warnings, QStringList());
}

void TestCWebSocket::boundedReply_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("exactly 1 MiB") << int(CWebSocket::MaxReplyBytes) << true;
    QTest::newRow("one byte more") << int(CWebSocket::MaxReplyBytes) + 1 << false;
}

void TestCWebSocket::boundedReply()
{
    QFETCH(int, size);
    QFETCH(bool, accepted);
    LocalPeer peer;
    CWebSocket client(nullptr, 0);
    aim(client, peer);
    QSignalSpy done(&client, SIGNAL(dataRetrieved()));
    QSignalSpy failed(&client, SIGNAL(dataRetrievalError()));
    client.retrieveData();
    QTRY_VERIFY(peer.hasWholeRequest());
    peer.answer(QByteArray(size, 'a'));
    if (accepted) {
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 20000);
        QCOMPARE(client.response().size(), size);
        QCOMPARE(failed.count(), 0);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 20000);
    QTRY_COMPARE(peer.socket()->state(), QAbstractSocket::UnconnectedState);
    QCoreApplication::processEvents();
    QCOMPARE(done.count(), 0);
    QVERIFY(client.receiveBuffer().size() <= CWebSocket::MaxReplyBytes);
}

void TestCWebSocket::destroyedWhileOpen()
{
    LocalPeer peer;
    auto *client = new CWebSocket(nullptr, 0);
    aim(*client, peer);
    int signalsHeard = 0;
    connect(client, &CWebSocket::dataRetrieved, [&] { ++signalsHeard; });
    connect(client, &CWebSocket::dataRetrievalError, [&] { ++signalsHeard; });
    client->retrieveData();
    QTRY_VERIFY(peer.hasWholeRequest());
    delete client;
    QTRY_COMPARE(peer.socket()->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(signalsHeard, 0);
}

QTEST_GUILESS_MAIN(TestCWebSocket)
#include "tst_cwebsocket.moc"
