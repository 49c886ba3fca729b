#include "cupdatequery.h"
#include "localpeer.h"
#include "modalcloser.h"
#include "serverhost.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QNetworkProxy>
#include <QtTest>

using Vesk::QtLib::UpdateSys::CUpdateQuery;

// Stands in for the browser: every http URL opened lands here.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

class TestCUpdateQuery : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void requestLine_data();
    void requestLine();
    void replyOutcome_data();
    void replyOutcome();
    void versionShownAsPlainText();
    void yesOpensDownloadPage();
    void defaultServer();
    void newCheckAbandonsOpenOne();
    void unreachableServerShowsNothing();
    void destroyedWhileChecking();
    void boundedReply();

private:
    void aim(CUpdateQuery &query, const LocalPeer &peer);

    UrlCatcher catcher;
};

void TestCUpdateQuery::initTestCase()
{
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
}

void TestCUpdateQuery::init()
{
    catcher.urls.clear();
}

void TestCUpdateQuery::cleanup()
{
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
}

void TestCUpdateQuery::aim(CUpdateQuery &query, const LocalPeer &peer)
{
    query.setServerHost(QStringLiteral("127.0.0.1"));
    query.setServerPort(peer.port());
}

void TestCUpdateQuery::requestLine_data()
{
    QTest::addColumn<QStringList>("versions");
    QTest::addColumn<QByteArray>("lastLine");
    QTest::newRow("program version")
        << QStringList{"1.0"} << QByteArray("GET /updates/lookup.php?id=6&vn=10 HTTP/1.0");
    QTest::newRow("dots removed") << QStringList{"2.0.1"}
                                  << QByteArray("GET /updates/lookup.php?id=6&vn=201 HTTP/1.0");
    QTest::newRow("empty arguments keep stored values")
        << QStringList{"2.0.1", ""} << QByteArray("GET /updates/lookup.php?id=6&vn=201 HTTP/1.0");
}

void TestCUpdateQuery::requestLine()
{
    QFETCH(QStringList, versions);
    QFETCH(QByteArray, lastLine);
    LocalPeer peer;
    CUpdateQuery query;
    aim(query, peer);
    ModalCloser closer(QMessageBox::No);
    for (int i = 0; i < versions.size(); ++i) {
        query.checkForUpdate(i == 0 ? QStringLiteral("6") : QString(), versions[i]);
        QTRY_VERIFY(peer.hasWholeRequest(i));
        peer.answer("", i);
        QTRY_VERIFY(!query.isChecking());
    }
    QCOMPARE(peer.request(versions.size() - 1),
             lastLine + "\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QCOMPARE(closer.count(), 0);
}

void TestCUpdateQuery::replyOutcome_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("showUpToDate");
    QTest::addColumn<QString>("offered"); // null: up-to-date, empty: no box

    const QString upToDate;
    const QString noBox = QStringLiteral("");
    QTest::newRow("headers then version")
        << QByteArray("HTTP/1.0 200 OK\r\n\r\n1.1|") << true << QStringLiteral("1.1");
    QTest::newRow("offer without showUpToDate")
        << QByteArray("HTTP/1.0 200 OK\r\n\r\n1.1|") << false << QStringLiteral("1.1");
    QTest::newRow("no bar") << QByteArray("HTTP/1.0 200 OK\r\n\r\nnone") << true << upToDate;
    QTest::newRow("no bar, quiet") << QByteArray("HTTP/1.0 200 OK\r\n\r\nnone") << false << noBox;
    QTest::newRow("empty reply") << QByteArray() << true << upToDate;
    QTest::newRow("bar in a header") << QByteArray("HTTP/1.0 200 OK\r\nX-Note: a|b\r\n\r\n2.0|")
                                     << true << QStringLiteral("X-Note: a");
    QTest::newRow("leading bar") << QByteArray("|\n3.1\n|x") << true << QStringLiteral("3.1");
    QTest::newRow("bars only") << QByteArray("||") << true << upToDate;
    QTest::newRow("line feeds before bar") << QByteArray("\n\n|x") << true << upToDate;
    QTest::newRow("blank line before bar, quiet")
        << QByteArray("HTTP/1.0 200 OK\r\n\r\n|") << false << noBox;
}

void TestCUpdateQuery::replyOutcome()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, showUpToDate);
    QFETCH(QString, offered);
    LocalPeer peer;
    CUpdateQuery query;
    aim(query, peer);
    query.setShowUpToDate(showUpToDate);
    ModalCloser closer(QMessageBox::No);
    query.checkForUpdate(QStringLiteral("6"), QStringLiteral("1.0"));
    QTRY_VERIFY(peer.hasWholeRequest());
    peer.answer(reply);
    QTRY_VERIFY(!query.isChecking());
    QCoreApplication::processEvents();
    if (!offered.isNull() && offered.isEmpty()) {
        QCOMPARE(closer.count(), 0);
        return;
    }
    QTRY_COMPARE(closer.count(), 1);
    const ModalCloser::Seen &box = closer.seen().first();
    QCOMPARE(box.title, QStringLiteral("Orvella"));
    QCOMPARE(box.icon, QMessageBox::Question);
    QVERIFY(!box.hasParent);
    if (offered.isNull()) {
        QCOMPARE(box.text, QStringLiteral("You're using the latest version at this time."));
        QCOMPARE(box.informativeText, QString());
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.defaultButton, QMessageBox::Ok);
    } else {
        QCOMPARE(box.text, QStringLiteral("Version ") + offered + QStringLiteral(" is available"));
        QCOMPARE(box.informativeText, QStringLiteral("Download now?"));
        QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(box.defaultButton, QMessageBox::Yes);
    }
    QVERIFY(catcher.urls.isEmpty());
}

void TestCUpdateQuery::versionShownAsPlainText()
{
    LocalPeer peer;
    CUpdateQuery query;
    aim(query, peer);
    // Answers the box itself to see how its text is taken.
    Qt::TextFormat format = Qt::AutoText;
    QString text;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            format = box->textFormat();
            text = box->text();
            box->button(QMessageBox::No)->click();
        }
    });
    poll.start(5);
    query.checkForUpdate(QStringLiteral("6"), QStringLiteral("1.0"));
    QTRY_VERIFY(peer.hasWholeRequest());
    peer.answer("<b>9.9</b><img src=x>|");
    QTRY_COMPARE(text, QStringLiteral("Version <b>9.9</b><img src=x> is available"));
    QCOMPARE(format, Qt::PlainText);
}

void TestCUpdateQuery::yesOpensDownloadPage()
{
    LocalPeer peer;
    CUpdateQuery query;
    aim(query, peer);
    ModalCloser closer(QMessageBox::Yes);
    query.checkForUpdate(QStringLiteral("6"), QStringLiteral("1.0"));
    QTRY_VERIFY(peer.hasWholeRequest());
    peer.answer("HTTP/1.0 200 OK\r\n\r\n1.1|");
    QTRY_COMPARE(catcher.urls.size(), 1);
    QCOMPARE(catcher.urls.first(),
             QUrl(QStringLiteral("http://127.0.0.1:%1/software/lantrel/").arg(peer.port())));
    QCOMPARE(closer.count(), 1);
}

// The configured server, reached through a local proxy so no name is looked
// up: the connection goes to the full name on port 80, the Host line leaves
// out "www." and the download page is on the full name.
void TestCUpdateQuery::defaultServer()
{
    LocalPeer proxy;
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), proxy.port()));
    CUpdateQuery query;
    QCOMPARE(query.serverHost(), serverHost());
    QCOMPARE(query.serverPort(), quint16(80));
    ModalCloser closer(QMessageBox::Yes);
    query.checkForUpdate(QStringLiteral("6"), QStringLiteral("1.0"));
    QTRY_VERIFY(proxy.hasWholeRequest());
    const QByteArray connectLine = "CONNECT " + serverHost().toLatin1() + ":80 ";
    QVERIFY2(proxy.request().startsWith(connectLine), proxy.request().constData());
    const int tunnelStart = proxy.request().size();
    proxy.socket()->write("HTTP/1.0 200 Connection established\r\n\r\n");
    QTRY_VERIFY(proxy.request().size() > tunnelStart && proxy.hasWholeRequest());

    QString hostLine = serverHost();
    hostLine.remove(QStringLiteral("www."));
    QCOMPARE(proxy.request().mid(tunnelStart),
             "GET /updates/lookup.php?id=6&vn=10 HTTP/1.0\r\nHost: " + hostLine.toLatin1() +
                 "\r\nConnection: close\r\n\r\n");
    proxy.answer("1.1|");
    QTRY_COMPARE(catcher.urls.size(), 1);
    QCOMPARE(catcher.urls.first(),
             QUrl(QStringLiteral("http://") + serverHost() + QStringLiteral("/software/lantrel/")));
}

void TestCUpdateQuery::newCheckAbandonsOpenOne()
{
    LocalPeer peer;
    CUpdateQuery query;
    aim(query, peer);
    query.setShowUpToDate(true);
    ModalCloser closer(QMessageBox::No);
    query.checkForUpdate(QStringLiteral("6"), QStringLiteral("1.0"));
    QTRY_VERIFY(peer.hasWholeRequest(0));
    peer.socket(0)->write("1.1|");
    query.checkForUpdate(QString(), QString());
    QTRY_VERIFY(peer.hasWholeRequest(1));
    QTRY_COMPARE(peer.socket(0)->state(), QAbstractSocket::UnconnectedState);
    peer.answer("2.0|", 1);
    QTRY_COMPARE(closer.count(), 1);
    // Neither the first check's partial reply nor its end shows a box.
    QCOMPARE(closer.seen().first().text, QStringLiteral("Version 2.0 is available"));
    QCoreApplication::processEvents();
    QCOMPARE(closer.count(), 1);
}

void TestCUpdateQuery::unreachableServerShowsNothing()
{
    CUpdateQuery query;
    query.setServerHost(QStringLiteral("127.0.0.1"));
    query.setServerPort(LocalPeer::closedPort());
    query.setShowUpToDate(true);
    ModalCloser closer(QMessageBox::No);
    query.checkForUpdate(QStringLiteral("6"), QStringLiteral("1.0"));
    QVERIFY(query.isChecking());
    QTRY_VERIFY(!query.isChecking());
    QCoreApplication::processEvents();
    QCOMPARE(closer.count(), 0);
}

void TestCUpdateQuery::destroyedWhileChecking()
{
    LocalPeer peer;
    auto *query = new CUpdateQuery;
    aim(*query, peer);
    query->setShowUpToDate(true);
    ModalCloser closer(QMessageBox::No);
    query->checkForUpdate(QStringLiteral("6"), QStringLiteral("1.0"));
    QTRY_VERIFY(peer.hasWholeRequest());
    peer.socket()->write("1.1|");
    QTRY_VERIFY(peer.socket()->bytesToWrite() == 0);
    delete query;
    QTRY_COMPARE(peer.socket()->state(), QAbstractSocket::UnconnectedState);
    QCoreApplication::processEvents();
    QCOMPARE(closer.count(), 0);
}

void TestCUpdateQuery::boundedReply()
{
    LocalPeer peer;
    CUpdateQuery query;
    aim(query, peer);
    query.setShowUpToDate(true);
    ModalCloser closer(QMessageBox::No);
    query.checkForUpdate(QStringLiteral("6"), QStringLiteral("1.0"));
    QTRY_VERIFY(peer.hasWholeRequest());
    peer.answer("1.1|" + QByteArray(int(CUpdateQuery::MaxReplyBytes), 'a'));
    QTRY_VERIFY_WITH_TIMEOUT(!query.isChecking(), 20000);
    QTRY_COMPARE(peer.socket()->state(), QAbstractSocket::UnconnectedState);
    QCoreApplication::processEvents();
    QCOMPARE(closer.count(), 0);
}

QTEST_MAIN(TestCUpdateQuery)
#include "tst_cupdatequery.moc"
