// The real orvella-server process against a real SMTP server on 127.0.0.1:
// what each kind of request gets, which of them lead to mail, and that no
// accepted mail is lost or doubled when the SMTP server is away.
#include "serverharness.h"

#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace
{

QByteArray configText(const QString &spool, quint16 smtpPort, const QByteArray &alerts,
                      const QByteArray &extra = QByteArray())
{
    return "[server]\n"
           "spool = " +
           spool.toUtf8() +
           "   # test spool\n"
           "header_timeout = 2\n"
           "max_connections = 8\n"
           "max_connections_per_client = 8\n"
           "max_slow_headers = 8\n"
           "max_slow_headers_per_client = 8\n"
           "[smtp]\n"
           "url = smtp://127.0.0.1:" +
           QByteArray::number(smtpPort) +
           "\n"
           "starttls = off\n"
           "from = Orvella Test <alerts@example.net>\n"
           "retry_delay = 1\n"
           "[alerts]\n" +
           alerts +
           "[updates]\n"
           "6 = 1.1\n"
           "download_url = https://example.net/orvella/?a=1&b=<2>\n" +
           extra;
}

const QByteArray usualAlerts = "allow = you@example.com, @example.org\n"
                               "holdoff = 300\n"
                               "max_requests_per_second = 1000\n";

QByteArray alertTarget(const QByteArray &address)
{
    return "/updates/orvemailer.php?x=" + address;
}

} // namespace

class TestServerProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void firstAlertIsMailed();
    void refusedRequests_data();
    void refusedRequests();
    void unknownPaths_data();
    void unknownPaths();
    void oversizedRequests_data();
    void oversizedRequests();
    void updateLookupAndPage();
    void slowClientsAreCutOff();
    void refusedRequestsSentNoMail();
    void permanentRefusalMovedAside();
    void tooManyConnections();
    void tooManyConnectionsFromOneClient();
    void rateCapPerClient();
    void emptyAllowListRefusesAll();
    void spoolSurvivesRestart();
    void givenUpAfterRetryTime();
    void starttlsRequiredNeverSendsPlain();
    void commandLine();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<SmtpSink> m_sink;
    ServerProcess m_server;
    QString m_config;
};

void TestServerProcess::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_sink.reset(new SmtpSink(m_dir.path() + "/maildir"));
    QVERIFY2(m_sink->start(), "the SMTP sink did not start (is python3-aiosmtpd installed?)");
    m_config = m_dir.path() + "/server.conf";
    QVERIFY(writeFile(m_config, configText(m_dir.path() + "/spool", m_sink->port(), usualAlerts)));
    QVERIFY(m_server.start(m_config));
}

void TestServerProcess::cleanupTestCase()
{
    QVERIFY(m_server.stop());
    m_sink->stop();
}

void TestServerProcess::firstAlertIsMailed()
{
    // Byte for byte what the program sends, "+" encoded as it encodes it.
    const QByteArray reply =
        exchange(m_server.port(), programRequest(alertTarget("you%2Bcam@example.org")));
    QCOMPARE(statusOf(reply), 200);
    QCOMPARE(bodyOf(reply), QByteArray("queued"));
    QVERIFY(reply.contains("Content-Type: text/plain"));
    QTRY_COMPARE_WITH_TIMEOUT(m_sink->count(), 1, 20000);

    const QByteArray again =
        exchange(m_server.port(), programRequest(alertTarget("you%2Bcam@example.org")));
    QCOMPARE(bodyOf(again), QByteArray("held"));

    const QByteArray mail = m_sink->mails().first();
    QCOMPARE(headerValue(mail, "X-Sink-To"), QByteArray("you+cam@example.org"));
    QCOMPARE(headerValue(mail, "X-Sink-From"), QByteArray("alerts@example.net"));
    QCOMPARE(headerValue(mail, "From"), QByteArray("Orvella Test <alerts@example.net>"));
    QCOMPARE(headerValue(mail, "To"), QByteArray("you+cam@example.org"));
    QVERIFY2(
        QRegularExpression("^Orvella: motion detected at \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d")
            .match(QString::fromUtf8(headerValue(mail, "Subject")))
            .hasMatch(),
        headerValue(mail, "Subject").constData());
    QVERIFY(QRegularExpression(
                "^[A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} \\d\\d:\\d\\d:\\d\\d [+-]\\d{4}$")
                .match(QString::fromUtf8(headerValue(mail, "Date")))
                .hasMatch());
    QVERIFY(QRegularExpression("^<[^<>@ ]+@example\\.net>$")
                .match(QString::fromUtf8(headerValue(mail, "Message-ID")))
                .hasMatch());
    QVERIFY(mail.contains("\r\n\r\nOrvella detected motion."));
    QVERIFY(mail.contains("Alerts: 1\r\n"));
    QVERIFY(mail.contains("Client: 127.0.0.1\r\n"));
    QVERIFY(mail.contains(" UTC)\r\n"));
    // The log line follows the answer.
    QTRY_COMPARE(m_server.countLines("request 127.0.0.1 \"GET /updates/orvemailer.php"), 2);
}

void TestServerProcess::refusedRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");

    const auto get = [](const QByteArray &target) { return programRequest(target); };
    QTest::newRow("not on the list")
        << get(alertTarget("stranger@example.com")) << 403 << QByteArray("refused");
    QTest::newRow("encoded CR LF") << get(alertTarget("you@example.com%0d%0aBcc:%20a@example.org"))
                                   << 400 << QByteArray("refused");
    QTest::newRow("encoded LF") << get(alertTarget("you@example.com%0aX:%20y")) << 400
                                << QByteArray("refused");
    QTest::newRow("comma") << get(alertTarget("you@example.com,a@example.org")) << 400
                           << QByteArray("refused");
    QTest::newRow("encoded comma")
        << get(alertTarget("you@example.com%2ca@example.org")) << 400 << QByteArray("refused");
    QTest::newRow("angle brackets")
        << get(alertTarget("%3cyou@example.com%3e")) << 400 << QByteArray("refused");
    QTest::newRow("very long") << get(alertTarget(QByteArray(250, 'a') + "@example.org")) << 400
                               << QByteArray("refused");
    QTest::newRow("no address") << get("/updates/orvemailer.php") << 400 << QByteArray("refused");
    QTest::newRow("two addresses")
        << get(alertTarget("you@example.com&x=a@example.org")) << 400 << QByteArray("refused");
    QTest::newRow("bad escape") << get(alertTarget("you@example.com%zz")) << 404
                                << QByteArray("not found");
    // A raw line break splits the request line: the request is malformed.
    QTest::newRow("raw CR LF") << QByteArray("GET /updates/orvemailer.php?x=you@example.com\r\n"
                                             "Bcc: a@example.org HTTP/1.0\r\n\r\n")
                               << 400 << QByteArray();
}

void TestServerProcess::refusedRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    const QByteArray reply = exchange(m_server.port(), request);
    QCOMPARE(statusOf(reply), status);
    if (!body.isEmpty())
        QCOMPARE(bodyOf(reply), body);
}

void TestServerProcess::unknownPaths_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("root") << programRequest("/");
    QTest::newRow("folder") << programRequest("/updates/");
    QTest::newRow("longer path") << programRequest("/updates/orvemailer.php/x?x=you@example.com");
    QTest::newRow("page without slash") << programRequest("/software/lantrel");
    QTest::newRow("other case") << programRequest("/Updates/orvemailer.php?x=you@example.com");
    QTest::newRow("post") << QByteArray(
        "POST /updates/orvemailer.php?x=you@example.com HTTP/1.0\r\n"
        "Content-Length: 3\r\n\r\nabc");
    QTest::newRow("head") << QByteArray(
        "HEAD /updates/orvemailer.php?x=you@example.com HTTP/1.0\r\n\r\n");
}

void TestServerProcess::unknownPaths()
{
    QFETCH(QByteArray, request);
    QCOMPARE(statusOf(exchange(m_server.port(), request)), 404);
}

void TestServerProcess::oversizedRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");

    const QByteArray start = "GET /updates/lookup.php?id=6&vn=10 HTTP/1.0\r\n";
    const auto padded = [&](int total) {
        QByteArray request = start + "X-Pad: ";
        request += QByteArray(total - request.size() - 4, 'p') + "\r\n\r\n";
        return request;
    };
    QTest::newRow("8192 bytes") << padded(8192) << 200;
    QTest::newRow("8193 bytes") << padded(8193) << 431;
    QTest::newRow("long request line")
        << "GET " + alertTarget("you@example.com&pad=" + QByteArray(9000, 'p')) +
               " HTTP/1.0\r\n\r\n"
        << 431;
    QByteArray manyLines = start;
    for (int i = 0; i < 40; ++i)
        manyLines += "X-Line-" + QByteArray::number(i) + ": " + QByteArray(300, 'l') + "\r\n";
    QTest::newRow("many header lines") << manyLines + "\r\n" << 431;
    QTest::newRow("alert among them")
        << "GET " + alertTarget("you@example.com") +
               " HTTP/1.0\r\nX-Pad: " + QByteArray(9000, 'p') + "\r\n\r\n"
        << 431;
}

void TestServerProcess::oversizedRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QCOMPARE(statusOf(exchange(m_server.port(), request)), status);
    // The server goes on serving others.
    QCOMPARE(statusOf(exchange(m_server.port(), programRequest("/updates/lookup.php?id=6&vn=10"))),
             200);
}

void TestServerProcess::updateLookupAndPage()
{
    const QByteArray offer =
        exchange(m_server.port(), programRequest("/updates/lookup.php?id=6&vn=10"));
    QCOMPARE(statusOf(offer), 200);
    QCOMPARE(bodyOf(offer), QByteArray("1.1|"));
    const QByteArray current =
        exchange(m_server.port(), programRequest("/updates/lookup.php?id=6&vn=11"));
    QVERIFY(!current.contains('|'));
    QVERIFY(
        !exchange(m_server.port(), programRequest("/updates/lookup.php?id=9&vn=10")).contains('|'));
    QVERIFY(!exchange(m_server.port(), programRequest("/updates/lookup.php?id=6")).contains('|'));

    const QByteArray page = exchange(m_server.port(), programRequest("/software/lantrel/"));
    QCOMPARE(statusOf(page), 200);
    QVERIFY(page.contains("Content-Type: text/html"));
    QVERIFY(bodyOf(page).contains("1.1"));
    QVERIFY(bodyOf(page).contains("href=\"https://example.net/orvella/?a=1&amp;b=&lt;2&gt;\""));
}

void TestServerProcess::slowClientsAreCutOff()
{
    // One client trickles its header a byte at a time, another sends
    // nothing; the configuration gives a header 2 s.
    QTcpSocket trickler;
    QTcpSocket silent;
    trickler.connectToHost("127.0.0.1", m_server.port());
    silent.connectToHost("127.0.0.1", m_server.port());
    QVERIFY(trickler.waitForConnected(5000) && silent.waitForConnected(5000));
    const QByteArray slowRequest = programRequest("/updates/lookup.php?id=6&vn=10");
    int sent = 0;
    QTimer drip;
    drip.setInterval(100);
    connect(&drip, &QTimer::timeout, [&] {
        if (sent < slowRequest.size() && trickler.state() == QAbstractSocket::ConnectedState)
            trickler.write(slowRequest.mid(sent++, 1));
    });
    drip.start();
    QElapsedTimer clock;
    clock.start();

    // Others are served meanwhile.
    QCOMPARE(statusOf(exchange(m_server.port(), programRequest("/updates/lookup.php?id=6&vn=10"))),
             200);

    QByteArray trickled;
    QByteArray silentReply;
    QTRY_VERIFY_WITH_TIMEOUT(
        (trickled += trickler.readAll(), trickler.state() == QAbstractSocket::UnconnectedState &&
                                             silent.state() == QAbstractSocket::UnconnectedState),
        20000);
    trickled += trickler.readAll();
    silentReply = silent.readAll();
    drip.stop();
    QCOMPARE(statusOf(trickled), 408);
    QCOMPARE(statusOf(silentReply), 408);
    // Cut off by the header clock, long before the trickle could finish.
    QVERIFY2(sent < slowRequest.size(), qPrintable(QString::number(sent)));
    QVERIFY(clock.elapsed() >= 1500);
    QTRY_COMPARE(m_server.countLines("408 request header not complete"), 2);
}

void TestServerProcess::refusedRequestsSentNoMail()
{
    // A mail to a fresh address goes through the same spool after everything
    // above; when it has arrived, any mail the earlier requests caused would
    // have arrived before it.
    QCOMPARE(bodyOf(exchange(m_server.port(), programRequest(alertTarget("sentinel@example.org")))),
             QByteArray("queued"));
    QTRY_COMPARE_WITH_TIMEOUT(m_sink->count(), 2, 20000);
    QCOMPARE(recipients(m_sink->mails()),
             QStringList({"sentinel@example.org", "you+cam@example.org"}));
    QTRY_COMPARE(m_server.countLines("queued"), 2);
}

void TestServerProcess::permanentRefusalMovedAside()
{
    // The sink answers 550 for this mailbox.
    QCOMPARE(bodyOf(exchange(m_server.port(), programRequest(alertTarget("refuse@example.org")))),
             QByteArray("queued"));
    const QDir failed(m_dir.path() + "/spool/failed");
    QTRY_COMPARE_WITH_TIMEOUT(failed.entryList(QDir::Files).size(), 1, 20000);
    const QString name = failed.entryList(QDir::Files).first();
    QTRY_COMPARE(m_server.countLines("delivery " + name), 1);
    QCOMPARE(
        m_server.countLines("delivery " + name + " to refuse@example.org: refused for good (550)"),
        1);
    QVERIFY(!QFile::exists(m_dir.path() + "/spool/" + name));

    // Later mail still goes, and the refused one is not tried again.
    exchange(m_server.port(), programRequest(alertTarget("after@example.org")));
    QTRY_COMPARE_WITH_TIMEOUT(m_sink->count(), 3, 20000);
    QCOMPARE(m_server.countLines("delivery " + name), 1);
    QVERIFY(!recipients(m_sink->mails()).contains("refuse@example.org"));
}

void TestServerProcess::tooManyConnections()
{
    // The configuration allows 8 open connections.
    QList<QTcpSocket *> open;
    for (int i = 0; i < 8; ++i) {
        open << new QTcpSocket(this);
        open.last()->connectToHost("127.0.0.1", m_server.port());
        QVERIFY(open.last()->waitForConnected(5000));
    }
    const QByteArray turnedAway =
        exchange(m_server.port(), programRequest("/updates/lookup.php?id=6&vn=10"));
    QCOMPARE(statusOf(turnedAway), 503);
    QTRY_VERIFY(m_server.countLines("503 too many open connections") >= 1);
    qDeleteAll(open);
    // Once they are gone the server serves again.
    QTRY_COMPARE_WITH_TIMEOUT(
        statusOf(exchange(m_server.port(), programRequest("/updates/lookup.php?id=6&vn=10"))), 200,
        20000);
}

void TestServerProcess::tooManyConnectionsFromOneClient()
{
    QTemporaryDir dir;
    const QString config = dir.path() + "/perclient.conf";
    QByteArray text = configText(dir.path() + "/spool", m_sink->port(), usualAlerts);
    text.replace("max_connections_per_client = 8", "max_connections_per_client = 2");
    QVERIFY(writeFile(config, text));
    ServerProcess server;
    QVERIFY(server.start(config));

    QTcpSocket first;
    QTcpSocket second;
    // Each is served once and kept alive, so the server surely counts both.
    for (QTcpSocket *socket : {&first, &second}) {
        socket->connectToHost("127.0.0.1", server.port());
        QVERIFY(socket->waitForConnected(5000));
        socket->write("GET /updates/lookup.php?id=6&vn=10 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QByteArray answer;
        QTRY_VERIFY_WITH_TIMEOUT((answer += socket->readAll()).endsWith("1.1|"), 10000);
    }
    QCOMPARE(statusOf(exchange(server.port(), programRequest("/updates/lookup.php?id=6&vn=10"))),
             503);
    QTRY_COMPARE(server.countLines("503 too many open connections from this client"), 1);

    // Another client address on the loopback network is served meanwhile.
    QTcpSocket other;
    QVERIFY(other.bind(QHostAddress("127.0.0.2")));
    other.connectToHost("127.0.0.1", server.port());
    QVERIFY(other.waitForConnected(5000));
    other.write(programRequest("/updates/lookup.php?id=6&vn=10"));
    QByteArray reply;
    QTRY_VERIFY_WITH_TIMEOUT(
        (reply += other.readAll(), other.state() == QAbstractSocket::UnconnectedState), 10000);
    reply += other.readAll();
    QCOMPARE(statusOf(reply), 200);
    QVERIFY(first.state() == QAbstractSocket::ConnectedState);
}

void TestServerProcess::rateCapPerClient()
{
    QTemporaryDir dir;
    const QString config = dir.path() + "/rate.conf";
    QVERIFY(
        writeFile(config, configText(dir.path() + "/spool", m_sink->port(),
                                     "allow = you@example.com\nmax_requests_per_second = 20\n")));
    ServerProcess server;
    QVERIFY(server.start(config));
    QList<int> statuses;
    for (int i = 0; i < 100; ++i)
        statuses << statusOf(
            exchange(server.port(), programRequest("/updates/lookup.php?id=6&vn=10")));
    // A full second's worth first, then mostly refused.
    QCOMPARE(statuses.mid(0, 20).count(200), 20);
    QVERIFY(statuses.count(429) >= 10);
    QTRY_COMPARE(server.countLines("\" 429 too many requests"), statuses.count(429));
}

void TestServerProcess::emptyAllowListRefusesAll()
{
    QTemporaryDir dir;
    const QString config = dir.path() + "/closed.conf";
    QVERIFY(writeFile(config, configText(dir.path() + "/spool", m_sink->port(), "allow =\n")));
    ServerProcess server;
    QVERIFY(server.start(config));
    for (const QByteArray &address : QList<QByteArray>{"you@example.com", "a@example.org"}) {
        const QByteArray reply = exchange(server.port(), programRequest(alertTarget(address)));
        QCOMPARE(statusOf(reply), 403);
        QCOMPARE(bodyOf(reply), QByteArray("refused"));
    }
    QTRY_COMPARE(server.countLines("403 refused (not on the allow-list)"), 2);
    QVERIFY(QDir(dir.path() + "/spool").entryList({"*.mail"}, QDir::Files).isEmpty());
}

void TestServerProcess::spoolSurvivesRestart()
{
    QTemporaryDir dir;
    const quint16 smtpPort = freePort();
    const QString config = dir.path() + "/down.conf";
    const QString spool = dir.path() + "/spool";
    QVERIFY(writeFile(config, configText(spool, smtpPort, usualAlerts)));

    // SMTP is down: the alerts are accepted and wait in the spool.
    ServerProcess server;
    QVERIFY(server.start(config));
    const QList<QByteArray> addresses = {"one@example.org", "two@example.org", "you@example.com"};
    for (const QByteArray &address : addresses)
        QCOMPARE(bodyOf(exchange(server.port(), programRequest(alertTarget(address)))),
                 QByteArray("queued"));
    QTRY_VERIFY_WITH_TIMEOUT(server.countLines("not delivered") >= 3, 20000);
    QCOMPARE(QDir(spool).entryList({"*.mail"}, QDir::Files).size(), 3);

    // Restarted while SMTP is still away.
    QVERIFY(server.stop());
    QVERIFY(server.log().contains("stopped"));
    QCOMPARE(QDir(spool).entryList({"*.mail"}, QDir::Files).size(), 3);
    QVERIFY(server.start(config));

    // SMTP comes back: each accepted mail arrives once. A mail being sent
    // has left the spool for sending/ already, so the mails are waited for
    // rather than the spool's emptying.
    SmtpSink sink(dir.path() + "/maildir");
    QVERIFY(sink.start(smtpPort));
    QTRY_COMPARE_WITH_TIMEOUT(sink.count(), 3, 30000);
    QTRY_VERIFY(QDir(spool).entryList({"*.mail"}, QDir::Files).isEmpty());
    QCOMPARE(recipients(sink.mails()),
             QStringList({"one@example.org", "two@example.org", "you@example.com"}));
    QTRY_COMPARE(server.countLines("accepted (250)"), 3);
    QVERIFY(QDir(spool + "/failed").entryList(QDir::Files).isEmpty());
    QVERIFY(server.stop());
    sink.stop();
}

void TestServerProcess::givenUpAfterRetryTime()
{
    // retry_for = 0: the first failed attempt is the last.
    QTemporaryDir dir;
    const QString config = dir.path() + "/giveup.conf";
    const QString spool = dir.path() + "/spool";
    QVERIFY(
        writeFile(config, configText(spool, freePort(), usualAlerts, "[smtp]\nretry_for = 0\n")));
    ServerProcess server;
    QVERIFY(server.start(config));
    QCOMPARE(bodyOf(exchange(server.port(), programRequest(alertTarget("you@example.com")))),
             QByteArray("queued"));
    QTRY_COMPARE_WITH_TIMEOUT(QDir(spool + "/failed").entryList(QDir::Files).size(), 1, 20000);
    QVERIFY(QDir(spool).entryList({"*.mail"}, QDir::Files).isEmpty());
    QTRY_COMPARE(server.countLines("gave up after 0 s, moved to failed/"), 1);
}

void TestServerProcess::starttlsRequiredNeverSendsPlain()
{
    // The sink offers no STARTTLS; with it required nothing may go in clear.
    QTemporaryDir dir;
    const QString config = dir.path() + "/tls.conf";
    QByteArray text = configText(dir.path() + "/spool", m_sink->port(), usualAlerts);
    text.replace("starttls = off", "starttls = required");
    QVERIFY(writeFile(config, text));
    ServerProcess server;
    QVERIFY(server.start(config));
    const int before = m_sink->count();
    QCOMPARE(bodyOf(exchange(server.port(), programRequest(alertTarget("tls@example.org")))),
             QByteArray("queued"));
    QTRY_COMPARE_WITH_TIMEOUT(server.countLines("delivery "), 1, 20000);
    QVERIFY(server.log().filter("delivery ").first().contains("not delivered"));
    QCOMPARE(m_sink->count(), before);
    QCOMPARE(QDir(dir.path() + "/spool").entryList({"*.mail"}, QDir::Files).size(), 1);
}

void TestServerProcess::commandLine()
{
    QProcess check;
    check.start(ORVELLA_SERVER_BINARY, {"--check-config", "--config", m_config});
    QVERIFY(check.waitForFinished(10000));
    QCOMPARE(check.exitCode(), 0);
    QVERIFY(check.readAllStandardOutput().contains("configuration OK"));

    QTemporaryDir dir;
    const QString bad = dir.path() + "/bad.conf";
    QVERIFY(writeFile(bad, "[alerts]\nholdoff = soon\n"));
    check.start(ORVELLA_SERVER_BINARY, {"--check-config", "--config", bad});
    QVERIFY(check.waitForFinished(10000));
    QCOMPARE(check.exitCode(), 1);
    QVERIFY(check.readAllStandardError().contains("holdoff"));

    const QString noPassword = dir.path() + "/nopassword.conf";
    QVERIFY(writeFile(noPassword, "[smtp]\npassword_file = " + dir.path().toUtf8() + "/missing\n"));
    check.start(ORVELLA_SERVER_BINARY, {"--check-config", "--config", noPassword});
    QVERIFY(check.waitForFinished(10000));
    QCOMPARE(check.exitCode(), 1);
    QVERIFY(check.readAllStandardError().contains("password file"));

    check.start(ORVELLA_SERVER_BINARY, {"--version"});
    QVERIFY(check.waitForFinished(10000));
    QVERIFY(check.readAllStandardOutput().startsWith("orvella-server "));
    check.start(ORVELLA_SERVER_BINARY, {"--help"});
    QVERIFY(check.waitForFinished(10000));
    QCOMPARE(check.exitCode(), 0);
    QVERIFY(check.readAllStandardOutput().contains("--check-config"));
    check.start(ORVELLA_SERVER_BINARY, {"--listen"});
    QVERIFY(check.waitForFinished(10000));
    QCOMPARE(check.exitCode(), 2);
}

QTEST_GUILESS_MAIN(TestServerProcess)
#include "tst_serverprocess.moc"
