// What a stranger on the network and a careless operator can do to the real
// orvella-server, with a real SMTP server on 127.0.0.1: letter case, a flood
// of addresses, a spool that turns read-only, a restart, a second server,
// a folder as the configuration, keys given twice and slow headers.
#include "serverharness.h"

#include <QDirIterator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cctype>
#include <memory>
#include <unistd.h>

namespace
{

QByteArray configText(const QString &spool, quint16 smtpPort, const QByteArray &alerts,
                      const QByteArray &server = QByteArray())
{
    return "[server]\n"
           "spool = " +
           spool.toUtf8() + "\n" + server +
           "[smtp]\n"
           "url = smtp://127.0.0.1:" +
           QByteArray::number(smtpPort) +
           "\n"
           "starttls = off\n"
           "from = Orvella Test <alerts@example.net>\n"
           "retry_delay = 1\n"
           "[alerts]\n"
           "allow = you@example.com, @example.org\n"
           "max_requests_per_second = 1000000\n" +
           alerts + "[updates]\n6 = 1.1\n";
}

QByteArray alert(quint16 port, const QByteArray &address)
{
    return bodyOf(exchange(port, programRequest("/updates/orvemailer.php?x=" + address)));
}

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Makes a folder and everything in it unwritable, even for root, until
// destroyed: a read-only bind mount where mounting is allowed, else the
// immutable attribute, else (not root) permissions.
class ReadOnlyFolder
{
public:
    explicit ReadOnlyFolder(const QString &path) : m_path(path)
    {
        if (::geteuid() != 0) {
            setWritable(false);
            m_how = "permissions";
        } else if (run("mount", {"--bind", path, path})) {
            if (run("mount", {"-o", "remount,bind,ro", path}))
                m_how = "read-only bind mount";
            else
                run("umount", {path});
        }
        if (m_how.isEmpty() && ::geteuid() == 0 && run("chattr", {"-R", "+i", path}))
            m_how = "immutable attribute";
        // Whatever was used must really stop writes.
        QFile probe(path + "/probe");
        if (!m_how.isEmpty() && probe.open(QIODevice::WriteOnly)) {
            probe.remove();
            undo();
        }
    }
    ~ReadOnlyFolder() { undo(); }

    // How it was made read-only; empty when nothing worked here.
    QString how() const { return m_how; }

    void undo()
    {
        if (m_how == "read-only bind mount")
            run("umount", {m_path});
        else if (m_how == "immutable attribute")
            run("chattr", {"-R", "-i", m_path});
        else if (m_how == "permissions")
            setWritable(true);
        m_how.clear();
    }

private:
    void setWritable(bool writable)
    {
        QStringList folders{m_path};
        QDirIterator it(m_path, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext())
            folders << it.next();
        const QFile::Permissions read = QFile::ReadOwner | QFile::ExeOwner;
        for (const QString &folder : folders)
            QFile::setPermissions(folder, writable ? read | QFile::WriteOwner : read);
    }

    QString m_path;
    QString m_how;
};

// A client that sends a request header one byte at a time, from its own
// loopback address, and connects again whenever the server closes on it.
class SlowClient
{
public:
    SlowClient(const QString &from, quint16 port) : m_from(from), m_port(port) { connectAgain(); }

    // One more byte, or a new connection when the last one was closed.
    void drip()
    {
        if (m_socket->state() == QAbstractSocket::UnconnectedState) {
            connectAgain();
            return;
        }
        if (m_socket->state() == QAbstractSocket::ConnectedState && m_sent < m_request.size())
            m_socket->write(m_request.mid(m_sent++, 1));
        m_socket->readAll();
    }

private:
    void connectAgain()
    {
        m_socket = std::make_unique<QTcpSocket>();
        m_socket->bind(QHostAddress(m_from));
        m_socket->connectToHost("127.0.0.1", m_port);
        m_sent = 0;
    }

    QString m_from;
    quint16 m_port;
    std::unique_ptr<QTcpSocket> m_socket;
    QByteArray m_request = programRequest("/updates/lookup.php?id=6&vn=10");
    int m_sent = 0;
};

} // namespace

class TestServerAttacks : public QObject
{
    Q_OBJECT

private slots:
    void caseVariantsShareOneHoldOff();
    void manyAddressesStayBounded();
    void readOnlySpoolSendsOnce();
    void heldAlertsSurviveARestart_data();
    void heldAlertsSurviveARestart();
    void secondServerRefused();
    void configurationMustBeAFile();
    void repeatedOrUnknownKeysRefused();
    void slowHeadersFromFewAddresses();
};

void TestServerAttacks::caseVariantsShareOneHoldOff()
{
    QTemporaryDir dir;
    SmtpSink sink(dir.path() + "/maildir");
    QVERIFY(sink.start());
    const QString config = dir.path() + "/server.conf";
    QVERIFY(writeFile(config, configText(dir.path() + "/spool", sink.port(), "holdoff = 300\n")));
    ServerProcess server;
    QVERIFY(server.start(config));

    QCOMPARE(alert(server.port(), "You@Example.COM"), QByteArray("queued"));
    // 40 other spellings of the same mailbox: each is counted, none mailed.
    for (int variant = 1; variant <= 40; ++variant) {
        QByteArray spelling = "you@example.com";
        for (int bit = 0; bit < 6; ++bit)
            if (variant & (1 << bit))
                spelling[bit * 2] = char(std::toupper(spelling[bit * 2]));
        QCOMPARE(alert(server.port(), spelling), QByteArray("held"));
    }
    // A mail queued after them arrives after any mail they caused.
    QCOMPARE(alert(server.port(), "sentinel@example.org"), QByteArray("queued"));
    QTRY_COMPARE_WITH_TIMEOUT(sink.count(), 2, 20000);
    QCOMPARE(recipients(sink.mails()), QStringList({"sentinel@example.org", "you@example.com"}));
    const QByteArray mail = sink.mails().first();
    QCOMPARE(headerValue(mail, "To"), QByteArray("you@example.com"));
    QTRY_COMPARE(server.countLines("200 held (in hold-off)"), 40);
    QVERIFY(server.stop());
}

void TestServerAttacks::manyAddressesStayBounded()
{
    // Two mails an hour, one of them for @domain addresses; room for 50 of
    // those in hold-off.
    QTemporaryDir dir;
    SmtpSink sink(dir.path() + "/maildir");
    QVERIFY(sink.start());
    const QString config = dir.path() + "/server.conf";
    const QString spool = dir.path() + "/spool";
    QVERIFY(writeFile(config, configText(spool, sink.port(),
                                         "holdoff = 300\nmax_per_hour = 2\n"
                                         "max_held_addresses = 50\n")));
    ServerProcess server;
    QVERIFY(server.start(config));

    QCOMPARE(alert(server.port(), "a@example.org"), QByteArray("queued"));
    int held = 0;
    int dropped = 0;
    for (int i = 0; i < 300; ++i) {
        const QByteArray body = alert(server.port(), "u" + QByteArray::number(i) + "@example.org");
        held += body == "held";
        dropped += body == "dropped";
    }
    QCOMPARE(held, 49);
    QCOMPARE(dropped, 251);
    // The owner's address, listed on its own, still gets its mail at once.
    QCOMPARE(alert(server.port(), "you@example.com"), QByteArray("queued"));
    QTRY_COMPARE_WITH_TIMEOUT(sink.count(), 2, 20000);
    QCOMPARE(recipients(sink.mails()), QStringList({"a@example.org", "you@example.com"}));

    // The log: one line for the ceiling, at most 100 a minute of each kind.
    QTRY_COMPARE(server.countLines("you@example.com: accepted (250)"), 1);
    QCOMPARE(server.countLines("hold-offs full (50 addresses"), 1);
    QCOMPARE(server.countLines("503 dropped (hold-offs full)"), 100);
    QCOMPARE(server.countLines("200 held (hourly mail cap reached)"), 49);
    QVERIFY(server.stop());
    QCOMPARE(server.countLines("(151 more \"503 dropped\" line(s) left out"), 1);
    // The journal holds the book, not the flood.
    QFile journal(spool + "/holdoffs");
    QVERIFY(journal.open(QIODevice::ReadOnly));
    QVERIFY(journal.readAll().count('\n') <= 52);
}

void TestServerAttacks::readOnlySpoolSendsOnce()
{
    // The SMTP server holds the first mail's data until told to accept it;
    // meanwhile the spool turns read-only.
    QTemporaryDir dir;
    const QString hold = dir.path() + "/hold";
    QVERIFY(writeFile(hold, ""));
    SmtpSink sink(dir.path() + "/maildir", hold);
    QVERIFY(sink.start());
    const QString config = dir.path() + "/server.conf";
    const QString spool = dir.path() + "/spool";
    QVERIFY(writeFile(config, configText(spool, sink.port(), "holdoff = 300\n")));
    ServerProcess server;
    QVERIFY(server.start(config));

    QCOMPARE(alert(server.port(), "r1@example.org"), QByteArray("queued"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(hold + ".waiting"), 20000);
    QCOMPARE(QDir(spool + "/sending").entryList(QDir::Files).size(), 1);
    ReadOnlyFolder readOnly(spool);
    if (readOnly.how().isEmpty())
        QSKIP("no way to make a folder read-only here");
    qInfo("spool made read-only by: %s", qPrintable(readOnly.how()));
    QVERIFY(QFile::remove(hold));

    QTRY_COMPARE_WITH_TIMEOUT(sink.count(), 1, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(server.countLines("r1@example.org: accepted (250); the spool cannot "
                                                "record it"),
                              1, 20000);
    // Rounds of the delivery go by without sending it again.
    QTRY_VERIFY_WITH_TIMEOUT(server.countLines("the spool still cannot record it") >= 2, 20000);
    QCOMPARE(sink.count(), 1);

    readOnly.undo();
    QTRY_COMPARE_WITH_TIMEOUT(server.countLines("spool writable again, removed from sending/"), 1,
                              20000);
    QVERIFY(QDir(spool + "/sending").isEmpty());
    QCOMPARE(alert(server.port(), "r2@example.org"), QByteArray("queued"));
    QTRY_COMPARE_WITH_TIMEOUT(sink.count(), 2, 20000);
    QCOMPARE(recipients(sink.mails()), QStringList({"r1@example.org", "r2@example.org"}));
    QVERIFY(server.stop());
}

void TestServerAttacks::heldAlertsSurviveARestart_data()
{
    QTest::addColumn<bool>("killed");
    QTest::newRow("killed") << true;
    QTest::newRow("stopped") << false;
}

void TestServerAttacks::heldAlertsSurviveARestart()
{
    QFETCH(bool, killed);
    QTemporaryDir dir;
    SmtpSink sink(dir.path() + "/maildir");
    QVERIFY(sink.start());
    const QString config = dir.path() + "/server.conf";
    QVERIFY(writeFile(config, configText(dir.path() + "/spool", sink.port(), "holdoff = 2\n")));
    ServerProcess server;
    QVERIFY(server.start(config));
    QCOMPARE(alert(server.port(), "you@example.com"), QByteArray("queued"));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(alert(server.port(), "you@example.com"), QByteArray("held"));
    QTRY_COMPARE_WITH_TIMEOUT(sink.count(), 1, 20000);
    if (killed)
        server.kill();
    else
        QVERIFY(server.stop());

    QVERIFY(server.start(config));
    QTRY_COMPARE(server.countLines("1 hold-off(s) with 3 held alert(s) taken over"), 1);
    QTRY_COMPARE_WITH_TIMEOUT(sink.count(), 2, 20000);
    const QByteArray summary = sink.mails().last();
    QCOMPARE(headerValue(summary, "X-Sink-To"), QByteArray("you@example.com"));
    QVERIFY(summary.contains("Alerts: 3 more\r\n"));
    QVERIFY(server.stop());
}

void TestServerAttacks::secondServerRefused()
{
    QTemporaryDir dir;
    SmtpSink sink(dir.path() + "/maildir");
    QVERIFY(sink.start());
    const QString first = dir.path() + "/first.conf";
    const QString other = dir.path() + "/other.conf";
    QVERIFY(writeFile(first, configText(dir.path() + "/spool", sink.port(), "")));
    QVERIFY(writeFile(other, configText(dir.path() + "/spool2", sink.port(), "")));
    ServerProcess server;
    QVERIFY(server.start(first));
    const QString listen = "127.0.0.1:" + QString::number(server.port());

    // The same address with another spool.
    QByteArray output;
    QCOMPARE(runServer({"--config", other, "--listen", listen}, output), 1);
    QVERIFY2(output.contains("cannot listen on " + listen.toUtf8() + ": Address already in use"),
             output.constData());
    // The same spool on another address.
    QCOMPARE(runServer({"--config", first, "--listen", "127.0.0.1:0"}, output), 1);
    QVERIFY2(output.contains("is in use by another orvella-server (pid "), output.constData());

    // The first one alone goes on serving.
    QCOMPARE(alert(server.port(), "you@example.com"), QByteArray("queued"));
    QTRY_COMPARE_WITH_TIMEOUT(sink.count(), 1, 20000);
    QVERIFY(server.stop());
    // Once it is gone its spool and address can be taken.
    QVERIFY(server.start(first, listen));
    QVERIFY(server.stop());
}

void TestServerAttacks::configurationMustBeAFile()
{
    QTemporaryDir dir;
    QByteArray output;
    for (const QString &path : {dir.path(), QString("/dev/null")}) {
        QCOMPARE(runServer({"--check-config", "--config", path}, output), 1);
        QVERIFY2(output.contains("cannot read " + path.toUtf8() + ": not a regular file"),
                 output.constData());
        QVERIFY(!output.contains("configuration OK"));
    }
    const QString config = dir.path() + "/server.conf";
    QVERIFY(writeFile(config, configText(dir.path() + "/spool", 25, "") +
                                  "[smtp]\npassword_file = " + dir.path().toUtf8() + "\n"));
    QCOMPARE(runServer({"--check-config", "--config", config}, output), 1);
    QVERIFY2(output.contains("cannot read the password file " + dir.path().toUtf8() +
                             ": not a regular file"),
             output.constData());
}

void TestServerAttacks::repeatedOrUnknownKeysRefused()
{
    QTemporaryDir dir;
    const QString config = dir.path() + "/server.conf";
    const QByteArray base = configText(dir.path() + "/spool", 25, "");
    const int allowLine = base.left(base.indexOf("allow =")).count('\n') + 1;
    QVERIFY(writeFile(config, base + "[alerts]\nallow = stranger@example.net\n"));
    QByteArray output;
    for (const QStringList &extra : {QStringList(), QStringList{"--lenient"}}) {
        QCOMPARE(runServer(QStringList{"--check-config", "--config", config} + extra, output), 1);
        const QByteArray expected = "error: [alerts] allow: given twice, on lines " +
                                    QByteArray::number(allowLine) + " and " +
                                    QByteArray::number(base.count('\n') + 2);
        QVERIFY2(output.contains(expected), output.constData());
    }
    // Starting for real fails the same way.
    QCOMPARE(runServer({"--config", config, "--listen", "127.0.0.1:0"}, output), 1);
    QVERIFY(output.contains("given twice"));

    QVERIFY(writeFile(config, base + "[alerts]\nmax_per_houre = 5\n"));
    QCOMPARE(runServer({"--check-config", "--config", config}, output), 1);
    QVERIFY2(output.contains("error: unknown key max_per_houre in [alerts] (--lenient ignores it)"),
             output.constData());
    QCOMPARE(runServer({"--check-config", "--lenient", "--config", config}, output), 0);
    QVERIFY(output.contains("warning: unknown key max_per_houre in [alerts] is ignored"));
    QVERIFY(output.contains("configuration OK"));
}

void TestServerAttacks::slowHeadersFromFewAddresses()
{
    // 32 connections in all and 8 per client: four addresses could hold
    // every one. Two slow headers per client and eight in all are allowed.
    QTemporaryDir dir;
    const QString config = dir.path() + "/server.conf";
    QVERIFY(writeFile(config, configText(dir.path() + "/spool", 25, "",
                                         "header_timeout = 4\n"
                                         "max_connections = 32\n"
                                         "max_connections_per_client = 8\n"
                                         "max_slow_headers = 8\n"
                                         "max_slow_headers_per_client = 2\n")));
    ServerProcess server;
    QVERIFY(server.start(config));

    // Four addresses, eight connections each, a header byte every 0.5 s.
    std::vector<std::unique_ptr<SlowClient>> attackers;
    for (int address = 2; address <= 5; ++address)
        for (int i = 0; i < 8; ++i)
            attackers.push_back(
                std::make_unique<SlowClient>("127.0.0." + QString::number(address), server.port()));
    QTimer drip;
    connect(&drip, &QTimer::timeout, [&] {
        for (const auto &attacker : attackers)
            attacker->drip();
    });
    drip.start(500);

    const auto served = [&](const QString &from) {
        QTcpSocket socket;
        socket.bind(QHostAddress(from));
        socket.connectToHost("127.0.0.1", server.port());
        if (!socket.waitForConnected(5000))
            return 0;
        socket.write(programRequest("/updates/lookup.php?id=6&vn=10"));
        QByteArray reply;
        while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
            reply += socket.readAll();
        return statusOf(reply + socket.readAll());
    };

    // A second into their headers each address keeps two slow ones.
    // (One that connected late may be turned away at once instead.)
    QTRY_VERIFY_WITH_TIMEOUT(server.countLines("with 2 slow connection(s) from this client") +
                                     server.countLines("503 too many slow connections") >=
                                 24,
                             15000);
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(served("127.0.0.6"), 200);
        QCOMPARE(served("127.0.0.1"), 200);
    }
    // At the header timeout those are cut off too, and their addresses
    // cannot simply start over.
    QTRY_VERIFY_WITH_TIMEOUT(server.countLines("408 request header not complete in 4000 ms") >= 8,
                             15000);
    for (int i = 0; i < 10; ++i)
        QCOMPARE(served("127.0.0.6"), 200);
    QVERIFY(server.countLines("503 too many slow connections from this client") >= 1);
    drip.stop();
    QVERIFY(server.stop());
}

QTEST_GUILESS_MAIN(TestServerAttacks)
#include "tst_serverattacks.moc"
