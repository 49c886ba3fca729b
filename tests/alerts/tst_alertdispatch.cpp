#include "alertdispatch.h"

#include <QtTest>

namespace
{

class RecordedActions : public AlertActions
{
public:
    void playSound(const QString &path) override { sounds << path; }
    void requestRelay(const QString &pathAndQuery) override { relays << pathAndQuery; }

    QStringList sounds;
    QStringList relays;
};

const QString Sound = QStringLiteral("/snd/alarm.wav");
const QString Address = QStringLiteral("alert@cam.org");
const QString Relay = QStringLiteral("/updates/orvemailer.php?x=alert@cam.org");

} // namespace

class TestAlertDispatch : public QObject
{
    Q_OBJECT
private slots:
    void dispatch_data();
    void dispatch();
    void everyQualifyingTickAlerts();
    void relayPath_data();
    void relayPath();
};

void TestAlertDispatch::dispatch_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("playSound");
    QTest::addColumn<QString>("soundPath");
    QTest::addColumn<bool>("sendEmail");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("sounds");
    QTest::addColumn<QStringList>("relays");
    const QStringList none;
    // The threshold is 20 throughout.
    QTest::newRow("one below") << 19 << true << Sound << true << Address << none << none;
    QTest::newRow("equal") << 20 << true << Sound << true << Address << QStringList{Sound}
                           << QStringList{Relay};
    QTest::newRow("far over") << 1000 << true << Sound << true << Address << QStringList{Sound}
                              << QStringList{Relay};
    QTest::newRow("sound unticked")
        << 50 << false << Sound << true << Address << none << QStringList{Relay};
    QTest::newRow("empty sound path") << 50 << true << "" << false << Address << none << none;
    QTest::newRow("sound path as it is") << 50 << true << " /snd/my alarm.ogg " << false << Address
                                         << QStringList{" /snd/my alarm.ogg "} << none;
    QTest::newRow("e-mail unticked") << 50 << false << Sound << false << Address << none << none;
    QTest::newRow("address trimmed")
        << 50 << false << Sound << true << " \talert@cam.org  " << none << QStringList{Relay};
    QTest::newRow("blank address") << 50 << false << Sound << true << "   " << none << none;
    QTest::newRow("one-letter ending")
        << 50 << false << Sound << true << "alert@cam.o" << none << none;
    QTest::newRow("five-letter ending")
        << 50 << false << Sound << true << "alert@cam.abcde" << none << none;
    QTest::newRow("capitals") << 50 << false << Sound << true << "ALERT@CAM.ORG" << none
                              << QStringList{"/updates/orvemailer.php?x=ALERT@CAM.ORG"};
}

void TestAlertDispatch::dispatch()
{
    QFETCH(int, level);
    QFETCH(bool, playSound);
    QFETCH(QString, soundPath);
    QFETCH(bool, sendEmail);
    QFETCH(QString, address);
    QFETCH(QStringList, sounds);
    QFETCH(QStringList, relays);
    RecordedActions actions;
    dispatchAlerts(AlertRequest{level, 20, playSound, soundPath, sendEmail, address}, actions);
    QCOMPARE(actions.sounds, sounds);
    QCOMPARE(actions.relays, relays);
}

void TestAlertDispatch::everyQualifyingTickAlerts()
{
    RecordedActions actions;
    AlertRequest request{0, 20, true, Sound, true, Address};
    for (int tick = 0; tick < 10; ++tick) {
        request.level = 20 + tick;
        dispatchAlerts(request, actions);
    }
    QCOMPARE(actions.sounds.size(), 10);
    QCOMPARE(actions.relays.size(), 10);
}

void TestAlertDispatch::relayPath_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("path");
    QTest::newRow("plain") << "a.b-c_d@cam.org"
                           << "/updates/orvemailer.php?x=a.b-c_d@cam.org";
    QTest::newRow("plus and percent") << "a+b%c@cam.org"
                                      << "/updates/orvemailer.php?x=a%2Bb%25c@cam.org";
    QTest::newRow("query delimiters") << "a&b=c#d"
                                      << "/updates/orvemailer.php?x=a%26b%3Dc%23d";
}

void TestAlertDispatch::relayPath()
{
    QFETCH(QString, address);
    QFETCH(QString, path);
    QCOMPARE(relayRequestPath(address), path);
}

QTEST_GUILESS_MAIN(TestAlertDispatch)
#include "tst_alertdispatch.moc"
