#include "cupdatequery.h"
#include "hostileserver.h"
#include "localpeer.h"
#include "modalcloser.h"
#include "serverhost.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QtTest>

using Vesk::QtLib::UpdateSys::CUpdateQuery;

namespace
{

// Which box a check ends with.
enum class Box { None, Offer, UpToDate, Unreachable };

// How a hostile server ends its reply; Refuse: no server at all.
enum class Ending { Close, Reset, Hang, Refuse };

const QByteArray ok = "HTTP/1.0 200 OK\r\n\r\n";

// Any tick of the GUI thread may come this much later than planned: generous
// for sanitizer builds on busy cores, where a test running beside this one
// can hold a core for 100 ms and more; a check that waited on its socket
// would hold the loop for seconds.
const int MaxLatenessMs = 250;

// Measures how late a 5 ms timer fires while it runs: the longest the event
// loop was held.
class LatenessProbe
{
public:
    LatenessProbe()
    {
        timer.setInterval(IntervalMs);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            worst = qMax(worst, clock.restart() - IntervalMs);
        });
        clock.start();
        timer.start();
    }
    qint64 worstMs() const { return worst; }

private:
    static const int IntervalMs = 5;
    QTimer timer;
    QElapsedTimer clock;
    qint64 worst = 0;
};

} // namespace

Q_DECLARE_METATYPE(Box)
Q_DECLARE_METATYPE(Ending)

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
    void hostileServer_data();
    void hostileServer();
    void yesOpensDownloadPage();
    void defaultServer();
    void newCheckAbandonsOpenOne();
    void destroyedWhileChecking();

private:
    void aim(CUpdateQuery &query, const LocalPeer &peer);

    UrlCatcher catcher;
};

void TestCUpdateQuery::initTestCase()
{
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
    // The first box of a run loads fonts and styles; that is not the check's
    // doing, so it happens before any probe runs.
    ModalCloser closer;
    QTimer::singleShot(0, [] {
        QMessageBox box;
        box.setText(QStringLiteral("warm-up"));
        box.exec();
    });
    QTRY_COMPARE(closer.count(), 1);
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
        peer.answer(ok + "none", i);
        QTRY_VERIFY(!query.isChecking());
    }
    QCOMPARE(peer.request(versions.size() - 1),
             lastLine + "\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QCOMPARE(closer.count(), 0);
}

void TestCUpdateQuery::hostileServer_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("dripMs"); // 0: all at once, else one byte each dripMs
    QTest::addColumn<Ending>("ending");
    QTest::addColumn<Box>("box");
    QTest::addColumn<QString>("version");

    const QByteArray mib(1024 * 1024, 'x');
    const QByteArray tenMib = mib.repeated(10);
    struct Row {
        const char *name;
        QByteArray reply;
        int dripMs;
        Ending ending;
        Box box;
        QString version;
    };
    const Row rows[] = {
        {"offer", ok + "1.1|", 0, Ending::Close, Box::Offer, "1.1"},
        {"offer with headers", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n2.0-rc1|x",
         0, Ending::Close, Box::Offer, "2.0-rc1"},
        {"no bar", ok + "none", 0, Ending::Close, Box::UpToDate, ""},
        // A complete 200 with nothing in it is an answer: nothing is offered.
        {"200 with an empty body", ok, 0, Ending::Close, Box::UpToDate, ""},
        {"bar in a header of a 200", "HTTP/1.0 200 OK\r\nX-Note: a|b\r\n\r\nnone", 0,
         Ending::Close, Box::UpToDate, ""},
        {"leading bar", ok + "|\n3.1\n|x", 0, Ending::Close, Box::Offer, "3.1"},
        {"CR LF lines", ok + "notes\r\n1.2\r\n|", 0, Ending::Close, Box::Offer, "1.2"},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\n1.1|\r\n0\r\n\r\n",
         0, Ending::Close, Box::Offer, "1.1"},
        {"announced length, left open", "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\n1.1|", 0,
         Ending::Hang, Box::Offer, "1.1"},
        {"900 KB version text", ok + QByteArray(900 * 1000, '7') + "|", 0, Ending::Close,
         Box::Unreachable, ""},
        {"33 character version", ok + QByteArray(33, '1') + "|", 0, Ending::Close,
         Box::Unreachable, ""},
        {"markup as version", ok + "<b>9.9</b>|", 0, Ending::Close, Box::Unreachable, ""},
        {"bars only", ok + "||", 0, Ending::Close, Box::Unreachable, ""},
        {"404 with bar in a header",
         "HTTP/1.0 404 Not Found\r\nServer: nginx|x\r\n\r\n<h1>Not Found</h1>", 0, Ending::Close,
         Box::Unreachable, ""},
        {"500 with bar in the body", "HTTP/1.0 500 Internal Server Error\r\n\r\n<h1>boom|</h1>", 0,
         Ending::Close, Box::Unreachable, ""},
        {"301 redirect",
         "HTTP/1.0 301 Moved Permanently\r\nLocation: http://127.0.0.1:1/\r\n\r\n1.1|", 0,
         Ending::Close, Box::Unreachable, ""},
        {"cut off body", "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n1.1|h", 0, Ending::Close,
         Box::Unreachable, ""},
        {"reset mid-reply", "HTTP/1.0 200 OK\r\nContent-Length: 50\r\n\r\n1.1|", 0, Ending::Reset,
         Box::Unreachable, ""},
        {"refused", "", 0, Ending::Refuse, Box::Unreachable, ""},
        {"accepts, never answers", "", 0, Ending::Hang, Box::Unreachable, ""},
        {"empty reply", "", 0, Ending::Close, Box::Unreachable, ""},
        {"no status line", "1.1|", 0, Ending::Close, Box::Unreachable, ""},
        {"header of 100 KB", "HTTP/1.0 200 OK\r\nX-Pad: " + QByteArray(100 * 1000, 'a') +
                                 "\r\n\r\n1.1|",
         0, Ending::Close, Box::Unreachable, ""},
        {"body of 10 MiB", ok + "1.1|" + tenMib, 0, Ending::Close, Box::Unreachable, ""},
        {"announced 10 MiB", "HTTP/1.0 200 OK\r\nContent-Length: 10485760\r\n\r\n1.1|" + mib, 0,
         Ending::Close, Box::Unreachable, ""},
        {"NUL in the version", ok + QByteArray("1.\0" "1|", 5), 0, Ending::Close, Box::Unreachable,
         ""},
        {"NUL in a header", QByteArray("HTTP/1.0 200 OK\r\nX: a\0b\r\n\r\n1.1|", 28), 0,
         Ending::Close, Box::Unreachable, ""},
        {"NUL after the bar", ok + QByteArray("1.1|\0rest", 9), 0, Ending::Close, Box::Offer,
         "1.1"},
        {"invalid UTF-8 in the version", ok + "1.\xff\xfe|", 0, Ending::Close, Box::Unreachable,
         ""},
        {"invalid UTF-8 before the version", ok + "\xc3\x28\xa0\n1.2|", 0, Ending::Close,
         Box::Offer, "1.2"},
        // One byte each 100 ms stands for one a second: the check's own
        // time-out (2 s here) ends it either way.
        {"one byte at a time", "HTTP/1.0 200 OK\r\nX-Slow: " + QByteArray(100, 'a'), 100,
         Ending::Hang, Box::Unreachable, ""},
    };
    for (const Row &row : rows) {
        for (const bool asked : {true, false}) {
            const Box box = asked || row.box == Box::Offer ? row.box : Box::None;
            QTest::addRow("%s, %s", row.name, asked ? "asked" : "not asked")
                << row.reply << row.dripMs << row.ending << box << row.version;
        }
    }
}

// A server on 127.0.0.1 answers as the row says; the check must end with the
// row's box (none when the user did not ask, unless a version is offered),
// never hold the event loop, and keep no more than its bound.
void TestCUpdateQuery::hostileServer()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, dripMs);
    QFETCH(Ending, ending);
    QFETCH(Box, box);
    QFETCH(QString, version);
    const bool asked = !QByteArray(QTest::currentDataTag()).endsWith("not asked");

    std::unique_ptr<HostileServer> server;
    if (ending != Ending::Refuse)
        server.reset(new HostileServer(reply, dripMs, HostileServer::Ending(ending)));
    CUpdateQuery query;
    query.setServerHost(QStringLiteral("127.0.0.1"));
    query.setServerPort(server ? server->port() : LocalPeer::closedPort());
    query.setTimeout(2000);
    query.setShowUpToDate(asked);
    ModalCloser closer(QMessageBox::No);
    LatenessProbe probe;

    query.checkForUpdate(QStringLiteral("6"), QStringLiteral("1.0"));
    QTRY_VERIFY_WITH_TIMEOUT(!query.isChecking(), 10000);
    // Runs the box, if any; the closer answers it from within.
    QCoreApplication::processEvents();

    const int expected = box == Box::None ? 0 : 1;
    QCOMPARE(closer.count(), expected);
    if (expected) {
        const ModalCloser::Seen &seen = closer.seen().first();
        QCOMPARE(seen.title, QStringLiteral("Orvella"));
        QCOMPARE(seen.icon, QMessageBox::Question);
        QVERIFY(!seen.hasParent);
        QVERIFY(!seen.windowIcon.isNull());
        if (box == Box::Offer) {
            QCOMPARE(seen.text, QStringLiteral("Version ") + version + QStringLiteral(" is available"));
            QCOMPARE(seen.informativeText, QStringLiteral("Download now?"));
            QCOMPARE(seen.buttons, QMessageBox::Yes | QMessageBox::No);
            QCOMPARE(seen.defaultButton, QMessageBox::Yes);
        } else {
            QCOMPARE(seen.text, box == Box::UpToDate
                                    ? QStringLiteral("You're using the latest version at this time.")
                                    : QStringLiteral("The update server could not be reached. "
                                                     "Please try again later."));
            QCOMPARE(seen.informativeText, QString());
            QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            QCOMPARE(seen.defaultButton, QMessageBox::Ok);
        }
    }
    QVERIFY(catcher.urls.isEmpty());
    QVERIFY2(probe.worstMs() <= MaxLatenessMs,
             qPrintable(QStringLiteral("event loop held for %1 ms").arg(probe.worstMs())));
    QVERIFY(query.replyBytes() <= CUpdateQuery::MaxReplyBytes);
    QVERIFY(query.keptReplyBytes() <= CUpdateQuery::MaxReplyBytes);
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
    QCOMPARE(query.timeout(), 15000);
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
    proxy.answer("HTTP/1.0 200 OK\r\n\r\n1.1|");
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
    peer.socket(0)->write("HTTP/1.0 200 OK\r\n\r\n1.1|");
    query.checkForUpdate(QString(), QString());
    QTRY_VERIFY(peer.hasWholeRequest(1));
    QTRY_COMPARE(peer.socket(0)->state(), QAbstractSocket::UnconnectedState);
    peer.answer("HTTP/1.0 200 OK\r\n\r\n2.0|", 1);
    QTRY_COMPARE(closer.count(), 1);
    // Neither the first check's partial reply nor its end shows a box.
    QCOMPARE(closer.seen().first().text, QStringLiteral("Version 2.0 is available"));
    QCoreApplication::processEvents();
    QCOMPARE(closer.count(), 1);
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
    peer.socket()->write("HTTP/1.0 200 OK\r\n\r\n1.1|");
    QTRY_VERIFY(peer.socket()->bytesToWrite() == 0);
    delete query;
    QTRY_COMPARE(peer.socket()->state(), QAbstractSocket::UnconnectedState);
    QCoreApplication::processEvents();
    QCOMPARE(closer.count(), 0);
}

QTEST_MAIN(TestCUpdateQuery)
#include "tst_cupdatequery.moc"
