#include "alertsettingsdialog.h"
#include "eventrecord.h"
#include "fakeescapi.h"
#include "ignoremask.h"
#include "mainwindow.h"
#include "modalcloser.h"
#include "sampleframes.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The window with the alert guards on, as a new user has them: what the
// status bar says, what an event leaves in the output folder and pushes.
class TestWindowAlerts : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void lampIsNoAlert();
    void personIsAnEventWithItsFiles();
    void eventClipInsteadOfFrames();
    void pushGoesOutWithRecordOff();
    void damagedMaskIsReportedAndIgnored();
    void alertSettingsAppliedAndRemembered();

private:
    std::unique_ptr<MainWindow> makeWindow();
    QStatusBar *statusBar(MainWindow &window) { return window.findChild<QStatusBar *>(); }

    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<ModalCloser> modals;
};

namespace
{

const QImage room = cameraLikeFrame(480, 320, 7);

void queue(const QImage &frame)
{
    const QImage argb = frame.convertToFormat(QImage::Format_ARGB32);
    fakeEscapi_queueFrame(0, reinterpret_cast<const unsigned int *>(argb.constBits()),
                          argb.width() * argb.height());
}

// A still room as a camera gives it, long enough for a new comparison to
// settle: every picture with its own noise.
void queueStillRoom(int frames, quint32 seed = 1)
{
    for (int i = 0; i < frames; ++i)
        queue(withNoise(room, 3, seed + quint32(i)));
}

// A web server that answers every request with 200 and counts them.
class HookSink : public QTcpServer
{
public:
    HookSink()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    received += socket->readAll();
                    // Answered once the whole body is in.
                    const int head = received.indexOf("\r\n\r\n");
                    const QRegularExpressionMatch length =
                        QRegularExpression("Content-Length: *(\\d+)",
                                           QRegularExpression::CaseInsensitiveOption)
                            .match(received);
                    if (head < 0 || answered ||
                        (length.hasMatch() &&
                         received.size() - head - 4 < length.captured(1).toInt()))
                        return;
                    answered = true;
                    ++requests;
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n"
                                  "Connection: close\r\n\r\n");
                    socket->disconnectFromHost();
                });
            }
        });
        listen(QHostAddress::LocalHost);
    }
    QByteArray received;
    bool answered = false;
    int requests = 0;
};

// The still room, then someone walks across the hall and stands still.
void queuePersonWalkingIn()
{
    queueStillRoom(15);
    for (int i = 0; i < 8; ++i)
        queue(withNoise(withPerson(room, QRect(40 + 40 * i, 60, 110, 240)), 3, 50 + quint32(i)));
    fakeEscapi_setRepeatLast(0, 1);
}

PushSettings webhookTo(const HookSink &hook)
{
    PushSettings push;
    push.webhook.enabled = true;
    push.webhook.url = QString("http://127.0.0.1:%1/hook").arg(hook.serverPort());
    return push;
}

} // namespace

void TestWindowAlerts::init()
{
    fakeEscapi_reset();
    home.reset(new QTemporaryDir);
    qputenv("HOME", home->path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home->filePath("config").toLocal8Bit());
    modals.reset(new ModalCloser);
}

void TestWindowAlerts::cleanup()
{
    modals.reset();
    home.reset();
}

std::unique_ptr<MainWindow> TestWindowAlerts::makeWindow()
{
    fakeEscapi_setDeviceCount(1);
    fakeEscapi_setDeviceName(0, "Hall", 4);
    std::unique_ptr<MainWindow> window(new MainWindow);
    window->show();
    return window;
}

void TestWindowAlerts::lampIsNoAlert()
{
    queueStillRoom(15);
    queue(withGain(withNoise(room, 3, 99), 0.8)); // the lamp goes off
    fakeEscapi_setRepeatLast(0, 1);
    auto window = makeWindow();
    QCOMPARE(window->currentAlertSettings(), AlertSettings());
    window->findChild<QPushButton *>("cmdBeginCapture")->click();

    QTRY_VERIFY_WITH_TIMEOUT(
        statusBar(*window)->currentMessage().startsWith("Lighting change ignored at "), 10000);
    const QTime at = QTime::fromString(statusBar(*window)->currentMessage().right(8), "hh:mm:ss");
    QVERIFY(at.isValid());
    QVERIFY(qAbs(at.secsTo(QTime::currentTime())) <= 2);
    QVERIFY(!window->findChild<QLabel *>("lastAlert")->isVisible());
}

void TestWindowAlerts::personIsAnEventWithItsFiles()
{
    HookSink hook;
    QVERIFY(hook.isListening());
    const PushSettings push = webhookTo(hook);

    queuePersonWalkingIn();

    auto window = makeWindow();
    window->applyPushSettings(push);
    const QString folder = home->filePath("frames");
    QVERIFY(QDir().mkpath(folder));
    window->findChild<QLineEdit *>("txtOutputDirPath")->setText(folder + "/");
    window->findChild<QCheckBox *>("chkRecord")->setChecked(true);
    window->findChild<QCheckBox *>("chkDissimilar")->setChecked(true);
    auto *button = window->findChild<QPushButton *>("cmdBeginCapture");
    button->click();

    auto *lastAlert = window->findChild<QLabel *>("lastAlert");
    QTRY_VERIFY_WITH_TIMEOUT(lastAlert->isVisible(), 10000);
    QVERIFY2(lastAlert->text().startsWith("Last alert: "), qPrintable(lastAlert->text()));
    QTRY_COMPARE_WITH_TIMEOUT(hook.requests, 1, 5000);
    QTRY_VERIFY(hook.received.contains("\"camera\":\"Hall\""));

    // Stopping ends the event: its snapshot and record are in the folder.
    button->click();
    const QDir dir(folder);
    QTRY_COMPARE(dir.entryList({"*.json"}).size(), 1);
    const QString name = dir.entryList({"*.json"}).first().chopped(5);
    QVERIFY2(name.startsWith("Hall_") && name.endsWith("_UTC"), qPrintable(name));
    QVERIFY(!QImage(dir.filePath(name + ".jpg")).isNull());
    // Frames were saved only for alerting ticks, as ONLY Dissimilarities asks.
    const int frames = dir.entryList({"*.jpg"}).size() - 1;
    QVERIFY(frames >= 1 && frames <= 8);
    QCOMPARE(hook.requests, 1);
    QCOMPARE(modals->count(), 0);
}

// Clips chosen: the library keeps the pre-roll of the watched camera, the
// event's clip is named as its other files, ends with the post-roll, and a
// clip the library could not write is told in the status bar.
void TestWindowAlerts::eventClipInsteadOfFrames()
{
    queuePersonWalkingIn();

    HookSink hook;
    QVERIFY(hook.isListening());
    const PushSettings push = webhookTo(hook);

    auto window = makeWindow();
    window->applyPushSettings(push);
    OutputSettings output;
    output.kind = OutputSettings::Clips;
    output.prerollSeconds = 7;
    output.postrollSeconds = 4;
    window->applyOutputSettings(output);
    const QString folder = home->filePath("clips");
    QVERIFY(QDir().mkpath(folder));
    window->findChild<QLineEdit *>("txtOutputDirPath")->setText(folder + "/");
    QCOMPARE(fakeEscapi_clipPreroll(0), -1); // Record is off
    window->findChild<QCheckBox *>("chkRecord")->setChecked(true);
    auto *button = window->findChild<QPushButton *>("cmdBeginCapture");
    button->click();
    QCOMPARE(fakeEscapi_clipPreroll(0), 7000);

    QTRY_VERIFY_WITH_TIMEOUT(QString(fakeEscapi_clipPath(0)).endsWith("_UTC.mp4"), 10000);
    const QString clip = QString::fromUtf8(fakeEscapi_clipPath(0));
    QCOMPARE(QFileInfo(clip).absolutePath(), QFileInfo(folder).absoluteFilePath());
    // The web hook names the clip the event will have.
    QTRY_COMPARE(hook.requests, 1);
    QVERIFY2(hook.received.contains(".mp4\""), hook.received.constData());
    button->click();
    const QDir dir(folder);
    QTRY_COMPARE(dir.entryList({"*.json"}).size(), 1);
    const QString name = dir.entryList({"*.json"}).first().chopped(5);
    QCOMPARE(QFileInfo(clip).fileName(), name + ".mp4");
    const int postroll = fakeEscapi_clipPostroll(0);
    QVERIFY2(postroll >= 0 && postroll <= 4000, qPrintable(QString::number(postroll)));
    // The snapshot, and no frames.
    QCOMPARE(dir.entryList({"*.jpg"}), QStringList{name + ".jpg"});
    const QVector<EventRecord> records = readEventRecords(folder);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().clipFile, name + ".mp4");

    fakeEscapi_finishClips(0, 0, "No space left on device");
    QTRY_COMPARE(statusBar(*window)->currentMessage(),
                 "Could not save the clip " + QDir::toNativeSeparators(clip) +
                     ": No space left on device");
    QCOMPARE(modals->count(), 0);
}

// The push channels have their own switches; Record only decides the files.
void TestWindowAlerts::pushGoesOutWithRecordOff()
{
    HookSink hook;
    QVERIFY(hook.isListening());
    const PushSettings push = webhookTo(hook);
    queuePersonWalkingIn();

    auto window = makeWindow();
    window->applyPushSettings(push);
    QVERIFY(!window->findChild<QCheckBox *>("chkRecord")->isChecked());
    window->findChild<QPushButton *>("cmdBeginCapture")->click();
    QTRY_COMPARE_WITH_TIMEOUT(hook.requests, 1, 10000);
    QVERIFY(hook.received.contains("\"clip\":null"));
    QCOMPARE(modals->count(), 0);
}

void TestWindowAlerts::damagedMaskIsReportedAndIgnored()
{
    QVERIFY(QDir().mkpath(ignoreMaskFolder()));
    QFile mask(ignoreMaskPath("Hall"));
    QVERIFY(mask.open(QIODevice::WriteOnly));
    mask.write("\x89PNG\r\n\x1a\n not really");
    mask.close();
    queueStillRoom(3);
    auto window = makeWindow();
    window->findChild<QPushButton *>("cmdBeginCapture")->click();
    const QString message = statusBar(*window)->currentMessage();
    QVERIFY2(message.startsWith("The ignore areas of Hall could not be read"), qPrintable(message));
    QVERIFY(message.endsWith("they are not used."));
    QTRY_COMPARE(window->findChild<QPushButton *>("cmdBeginCapture")->text(), QString("Disable"));
    QCOMPARE(modals->count(), 0);
}

// The dialog's own controls are tested on their own; here, what the window
// does with the answer.
void TestWindowAlerts::alertSettingsAppliedAndRemembered()
{
    modals.reset(); // the dialog is answered here
    auto window = makeWindow();
    auto *tint = window->findChild<QLabel *>("liveTint");
    QVERIFY(tint && !tint->isVisible());
    bool answered = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<AlertSettingsDialog *>(QApplication::activeModalWidget());
        if (!dialog || answered)
            return;
        answered = true;
        dialog->findChild<QTabWidget *>("tabWidget")->setCurrentIndex(1);
        dialog->findChild<QCheckBox *>("chkLightingChanges")->setChecked(false);
        // A stroke across the top left corner of the picture.
        QWidget *editor = dialog->findChild<QWidget *>("maskEditor");
        QTest::mousePress(editor, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseRelease(editor, Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(dialog->maskChanged());
        dialog->accept();
    });
    poll.start(10);
    window->findChild<QAction *>("actionAlert_Settings")->trigger();
    QVERIFY(answered);

    QVERIFY(!window->currentAlertSettings().lightingChanges);
    QCOMPARE(QSettings("Kelvane", "Orvella").value("alerts/lightingChanges").toString(),
             QString("false"));
    QImage mask;
    QString error;
    QCOMPARE(loadIgnoreMask(ignoreMaskPath("Hall"), QSize(480, 320), &mask, &error),
             MaskFile::Loaded);
    QVERIFY(mask.pixelColor(10, 10).value() > 0);
    QVERIFY(mask.pixelColor(300, 300).value() == 0);
    // Painted areas are tinted over the live picture once the camera is watched.
    window->findChild<QPushButton *>("cmdBeginCapture")->click();
    QVERIFY(tint->isVisible());
    QCOMPARE(tint->geometry(), window->findChild<QLabel *>("lblLiveImage")->geometry());
}

QTEST_MAIN(TestWindowAlerts)
#include "tst_windowalerts.moc"
