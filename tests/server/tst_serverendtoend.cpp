// The program and the server together: the real main window, built to talk
// to 127.0.0.1 on the test port, with the capture library's test double
// showing alternately white and black frames, drives the real orvella-server,
// which mails through a real SMTP server.
#include "fakeescapi.h"
#include "mainwindow.h"
#include "modalcloser.h"
#include "serverharness.h"
#include "serverhost.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

namespace
{

template <typename T> T *child(QObject &window, const char *name)
{
    T *widget = window.findChild<T *>(name);
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

void queueUniform(unsigned int word)
{
    const std::vector<unsigned int> frame(480 * 320, word);
    fakeEscapi_queueFrame(0, frame.data(), int(frame.size()));
}

QByteArray config(const QString &spool, quint16 smtpPort, const QByteArray &latest)
{
    return "[server]\n"
           "spool = " +
           spool.toUtf8() +
           "\n"
           "[smtp]\n"
           "url = smtp://127.0.0.1:" +
           QByteArray::number(smtpPort) +
           "\n"
           "starttls = off\n"
           "from = Orvella <alerts@example.net>\n"
           "[alerts]\n"
           "allow = guard+cam@example.com\n"
           "holdoff = 6                  # seconds, short for the test\n"
           "[updates]\n"
           "6 = " +
           latest +
           "   # product id = latest version\n"
           "download_url = https://example.net/orvella/\n";
}

QString listenAddress()
{
    return "127.0.0.1:" + QString::number(ORVELLA_SERVER_PORT);
}

} // namespace

class TestServerEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void motionGivesOneMailThenOneSummary();
    void updateCheck_data();
    void updateCheck();

private:
    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ModalCloser> m_modals;
};

void TestServerEndToEnd::initTestCase()
{
    // This test program carries its own build of the server host settings.
    QCOMPARE(serverHost(), QString("127.0.0.1"));
    QCOMPARE(int(serverPort()), ORVELLA_SERVER_PORT);
    qputenv("HOME", m_home.path().toLocal8Bit());
}

void TestServerEndToEnd::init()
{
    fakeEscapi_reset();
    m_dir.reset(new QTemporaryDir);
    m_modals.reset(new ModalCloser(QMessageBox::No));
}

void TestServerEndToEnd::cleanup()
{
    m_modals.reset();
    m_dir.reset();
}

void TestServerEndToEnd::motionGivesOneMailThenOneSummary()
{
    SmtpSink sink(m_dir->path() + "/maildir");
    QVERIFY(sink.start());
    const QString configPath = m_dir->path() + "/server.conf";
    QVERIFY(writeFile(configPath, config(m_dir->path() + "/spool", sink.port(), "1.1")));
    ServerProcess server;
    QVERIFY2(server.start(configPath, listenAddress()),
             "orvella-server could not listen on the test port");

    fakeEscapi_setDeviceCount(1);
    for (int i = 0; i < 40; ++i)
        queueUniform(i % 2 ? 0xFF000000 : 0xFFFFFFFF);

    MainWindow window;
    window.applyAlertSettings(AlertSettings::off());
    window.show();
    QVERIFY(QDir().mkpath(m_dir->path() + "/frames"));
    child<QLineEdit>(window, "txtOutputDirPath")->setText(m_dir->path() + "/frames/");
    child<QCheckBox>(window, "chkRecord")->setChecked(true);
    child<QLineEdit>(window, "txtEmailAddr")->setText("guard+cam@example.com");
    child<QCheckBox>(window, "chkEmail")->setChecked(true);
    QVERIFY(child<QCheckBox>(window, "chkEmail")->isChecked());
    child<QPushButton>(window, "cmdBeginCapture")->click();

    // The first alert is mailed at once; the following ones are held.
    QTRY_COMPARE_WITH_TIMEOUT(sink.count(), 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(server.countLines("200 held") >= 2, 30000);
    child<QCheckBox>(window, "chkRecord")->setChecked(false);

    // When the hold-off ends: one summary; when the next one ends quietly,
    // nothing more.
    QTRY_VERIFY_WITH_TIMEOUT(
        server.countLines("hold-off guard+cam@example.com ended, no more alerts") == 1, 40000);
    QCOMPARE(sink.count(), 2);
    QCOMPARE(server.countLines("200 queued"), 1);
    const int held = server.countLines("200 held");

    // The program's own request reached the server as it sends it.
    QVERIFY(server.countLines("\"GET /updates/orvemailer.php?x=guard%2Bcam@example.com\"") >= 3);

    const QList<QByteArray> mails = sink.mails();
    const QByteArray first = mails.value(0);
    QVERIFY(first.contains("\r\nTo: guard+cam@example.com\r\n"));
    QVERIFY(first.contains("\r\nFrom: Orvella <alerts@example.net>\r\n"));
    QVERIFY(first.contains("\r\nSubject: Orvella: motion detected at "));
    QVERIFY(first.contains("\r\nDate: "));
    QVERIFY(first.contains("\r\nMessage-ID: <"));
    QVERIFY(first.contains("Orvella detected motion."));
    QVERIFY(first.contains("Alerts: 1\r\n"));
    QVERIFY(first.contains("Client: 127.0.0.1\r\n"));
    const QByteArray summary = mails.value(1);
    QVERIFY(summary.contains("\r\nTo: guard+cam@example.com\r\n"));
    QVERIFY(summary.contains("Orvella went on detecting motion."));
    QVERIFY2(summary.contains("Alerts: " + QByteArray::number(held) + " more\r\n"),
             summary.constData());
    QCOMPARE(m_modals->count(), 0);

    child<QPushButton>(window, "cmdBeginCapture")->click();
    QVERIFY(server.stop());
    sink.stop();
}

void TestServerEndToEnd::updateCheck_data()
{
    QTest::addColumn<QByteArray>("latest");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("informative");
    QTest::newRow("newer version") << QByteArray("1.1") << "Version 1.1 is available"
                                   << "Download now?";
    QTest::newRow("same version") << QByteArray("1.0")
                                  << "You're using the latest version at this time."
                                  << "";
}

void TestServerEndToEnd::updateCheck()
{
    QFETCH(QByteArray, latest);
    QFETCH(QString, text);
    QFETCH(QString, informative);

    const QString configPath = m_dir->path() + "/server.conf";
    QVERIFY(writeFile(configPath, config(m_dir->path() + "/spool", 25, latest)));
    ServerProcess server;
    QVERIFY2(server.start(configPath, listenAddress()),
             "orvella-server could not listen on the test port");

    fakeEscapi_setDeviceCount(1);
    MainWindow window;
    window.show();
    QCOMPARE(m_modals->count(), 0);
    child<QAction>(window, "actionUpdate_Check")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(m_modals->count(), 1, 20000);
    QCOMPARE(m_modals->seen().first().text, text);
    QCOMPARE(m_modals->seen().first().informativeText, informative);
    QTRY_COMPARE(server.countLines("\"GET /updates/lookup.php?id=6&vn=10\" 200"), 1);
    QVERIFY(server.stop());
}

QTEST_MAIN(TestServerEndToEnd)
#include "tst_serverendtoend.moc"
