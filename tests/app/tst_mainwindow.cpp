#include "fakeescapi.h"
#include "mainwindow.h"
#include "modalcloser.h"
#include "sampleframes.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <vector>

namespace
{

const char noDeviceText[] = "You must have a capturing device attached to this computer to "
                            "utilise this software instance.";
const char noOutputDirText[] = "You must specify an output directory to record any activity.";
const char openFailedText[] = "The capturing device could not be initialised successfully, it "
                              "may already be in use by another process (e.g. Skype etc).";
const char dataDirText[] = "Error establishing data directory, please restart the application";
const char stillTitle[] = "Orvella - 0% Dissimilarity";

// A timer on the GUI thread that notes how late it ever fired. It is far
// below the capture interval, so a blocked event loop shows at once.
const int probeIntervalMs = 10;
// Generous against sanitizer builds on busy machines; a capture wait on the
// GUI thread would show as a whole second.
const qint64 latenessLimitMs = 250;

class LatenessProbe
{
public:
    LatenessProbe()
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            worst = std::max(worst, sinceLast.restart() - probeIntervalMs);
        });
        sinceLast.start();
        timer.start(probeIntervalMs);
    }
    qint64 worstMs() const { return worst; }

private:
    QTimer timer;
    QElapsedTimer sinceLast;
    qint64 worst = 0;
};

std::vector<unsigned int> uniformFrame(unsigned int word)
{
    return std::vector<unsigned int>(480 * 320, word);
}

// A still room with texture, so every filter and kernel changes the picture.
std::vector<unsigned int> sceneFrame()
{
    const QImage scene = cameraLikeFrame(480, 320, 11);
    const auto *words = reinterpret_cast<const unsigned int *>(scene.constBits());
    return std::vector<unsigned int>(words, words + 480 * 320);
}

void queue(int device, const std::vector<unsigned int> &frame)
{
    fakeEscapi_queueFrame(device, frame.data(), int(frame.size()));
}

int requests(int device = 0)
{
    return fakeEscapi_deviceCallCount("doCapture", device);
}

// Whether another frame is asked for within three capture periods.
bool asksAgain(int device = 0)
{
    const int before = requests(device);
    return QTest::qWaitFor([&] { return requests(device) > before; }, 300);
}

template <typename T> T *child(QObject &window, const char *name)
{
    T *widget = window.findChild<T *>(name);
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

bool allPixels(const QImage &image, QRgb value)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != value)
                return false;
    return true;
}

QWidget *shownAboutDialog()
{
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->inherits("aboutdialog") && top->isVisible())
            return top;
    return nullptr;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // Start-up and cameras
    void unusableLibraryWarnsOnce_data();
    void unusableLibraryWarnsOnce();
    void camerasListedAfterSetupRuns_data();
    void camerasListedAfterSetupRuns();
    void deviceNamesInSelector();
    void dataFolder_data();
    void dataFolder();

    // Capture button
    void enableAndDisable();
    void secondCameraOpensSecondDevice();
    void recordNeedsOutputDirectory();
    void failedOpenThenSuccessfulOpen();
    void slowOpenKeepsTheWindowLive();
    void disableWhileOpening();
    void closingWhileOpening();
    void exitReleasesEveryCameraTwiceFromTheLast();

    // Other controls
    void emailAddress_data();
    void emailAddress();
    void thresholdLabelFollowsSlider();
    void cancelledChoosersLeaveFieldsAlone();
    void chosenOutputDirectoryEndsWithSeparator();
    void aboutShowsOneDialog();

    // The capture tick
    void firstFrameShowsLiveOnly();
    void labelsShowTheFrameUnscaled_data();
    void labelsShowTheFrameUnscaled();
    void tickMeasuresDarkening_data();
    void tickMeasuresDarkening();
    void recording_data();
    void recording();
    void recordedFileNamesAndCounter();
    void lostSaveIsReportedAndCounted();
    void stalledCameraKeepsTheWindowLive();
    void disableDuringStall();
    void processingChangeStartsANewComparison_data();
    void processingChangeStartsANewComparison();
    void otherCameraStartsANewComparison();

private:
    std::unique_ptr<MainWindow> makeWindow(int cameras);

    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<ModalCloser> modals;
};

void TestMainWindow::init()
{
    fakeEscapi_reset();
    home.reset(new QTemporaryDir);
    QVERIFY(home->isValid());
    qputenv("HOME", home->path().toLocal8Bit());
    modals.reset(new ModalCloser);
}

void TestMainWindow::cleanup()
{
    modals.reset();
    home.reset();
}

std::unique_ptr<MainWindow> TestMainWindow::makeWindow(int cameras)
{
    fakeEscapi_setDeviceCount(cameras);
    std::unique_ptr<MainWindow> window(new MainWindow);
    window->show();
    return window;
}

void TestMainWindow::unusableLibraryWarnsOnce_data()
{
    QTest::addColumn<bool>("loadable");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("missing");
    QTest::addColumn<int>("devices");

    QTest::newRow("no library") << false << 0x200 << QString() << 2;
    QTest::newRow("version 0x100") << true << 0x100 << QString() << 2;
    QTest::newRow("version 0x201") << true << 0x201 << QString() << 2;
    QTest::newRow("entry point missing") << true << 0x200 << QString("doCapture") << 2;
    QTest::newRow("no camera") << true << 0x200 << QString() << 0;
}

void TestMainWindow::unusableLibraryWarnsOnce()
{
    QFETCH(bool, loadable);
    QFETCH(int, version);
    QFETCH(QString, missing);
    QFETCH(int, devices);

    fakeEscapi_setLoadable(loadable);
    fakeEscapi_setVersion(version);
    if (!missing.isEmpty())
        fakeEscapi_setMissing(missing.toLatin1().constData());
    auto window = makeWindow(devices);

    QCOMPARE(modals->count(), 1);
    const ModalCloser::Seen &box = modals->seen().first();
    QCOMPARE(box.text, QString(noDeviceText));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.title, QString("Orvella"));
    QVERIFY(!box.hasParent);
    QVERIFY(!box.windowIcon.isNull());

    auto *combo = child<QComboBox>(*window, "camCombo");
    auto *button = child<QPushButton>(*window, "cmdBeginCapture");
    QCOMPARE(combo->count(), 0);
    QVERIFY(window->isVisible());

    // Enable is inert: nothing opens, nothing runs, nothing is shown.
    button->click();
    QCOMPARE(button->text(), QString("Enable"));
    QCOMPARE(fakeEscapi_callCount("initCapture"), 0);
    QCOMPARE(fakeEscapi_callCount("doCapture"), 0);
    QCOMPARE(modals->count(), 1);
    if (!loadable)
        QCOMPARE(QString(fakeEscapi_callLog()), QString());
}

void TestMainWindow::camerasListedAfterSetupRuns_data()
{
    QTest::addColumn<int>("devices");
    QTest::newRow("one") << 1;
    QTest::newRow("two") << 2;
    QTest::newRow("three") << 3;
}

void TestMainWindow::camerasListedAfterSetupRuns()
{
    QFETCH(int, devices);
    auto window = makeWindow(devices);

    QCOMPARE(modals->count(), 0);
    QCOMPARE(fakeEscapi_callCount("load"), devices + 1);
    QCOMPARE(fakeEscapi_callCount("initCOM"), devices + 1);
    auto *combo = child<QComboBox>(*window, "camCombo");
    auto *button = child<QPushButton>(*window, "cmdBeginCapture");
    QCOMPARE(combo->count(), devices);
    QCOMPARE(fakeEscapi_callCount("doCapture"), 0);
    // Item i opens device i, which is usable and closes again on Disable.
    for (int i = 0; i < devices; ++i) {
        QCOMPARE(combo->itemText(i), QString("Fake Camera %1").arg(i));
        combo->setCurrentIndex(i);
        button->click();
        QTRY_VERIFY(requests(i) >= 1);
        QCOMPARE(fakeEscapi_deviceCallCount("initCapture", i), 1);
        button->click();
        QCOMPARE(fakeEscapi_deviceCallCount("deinitCapture", i), 1);
    }
    QCOMPARE(fakeEscapi_callCount("initCapture"), devices);
    QCOMPARE(modals->count(), 0);
}

void TestMainWindow::deviceNamesInSelector()
{
    QByteArray first(512, 'z');
    first.replace(0, 4, QByteArray("USB\0", 4));
    QByteArray second(512, '\0');
    second.replace(0, 6, "Cam\xE9ra");
    fakeEscapi_setDeviceName(0, first.constData(), first.size());
    fakeEscapi_setDeviceName(1, second.constData(), second.size());

    auto window = makeWindow(2);
    auto *combo = child<QComboBox>(*window, "camCombo");
    QCOMPARE(combo->itemText(0), QString("USB"));
    QCOMPARE(combo->itemText(1), QString::fromUtf8("Cam\xC3\xA9ra"));
}

void TestMainWindow::dataFolder_data()
{
    QTest::addColumn<QString>("state");
    QTest::newRow("exists") << "exists";
    QTest::newRow("missing") << "missing";
    QTest::newRow("cannot be created") << "blocked";
}

void TestMainWindow::dataFolder()
{
    QFETCH(QString, state);
    QString homePath = home->path();
    if (state == "exists")
        QVERIFY(QDir(homePath).mkpath(".kelvane/orvella"));
    if (state == "blocked") {
        // A home folder whose parent does not exist: no level can be made.
        homePath = home->path() + "/gone/home";
        qputenv("HOME", homePath.toLocal8Bit());
    }

    auto window = makeWindow(1);
    QVERIFY(window->isVisible());

    if (state == "blocked") {
        QCOMPARE(modals->count(), 2);
        for (const ModalCloser::Seen &box : modals->seen()) {
            QCOMPARE(box.text, QString(dataDirText));
            QCOMPARE(box.title, QString("Orvella"));
            QCOMPARE(box.icon, QMessageBox::NoIcon);
        }
        QVERIFY(!QDir(homePath).exists());
    } else {
        QCOMPARE(modals->count(), 0);
        QVERIFY(QDir(homePath + "/.kelvane/orvella").exists());
        QVERIFY(QDir(homePath + "/.kelvane/orvella").isEmpty());
    }
}

void TestMainWindow::enableAndDisable()
{
    auto window = makeWindow(1);
    auto *button = child<QPushButton>(*window, "cmdBeginCapture");
    auto *combo = child<QComboBox>(*window, "camCombo");
    queue(0, uniformFrame(0xFF808080));

    QCOMPARE(button->text(), QString("Enable"));
    button->click();
    QCOMPARE(button->text(), QString("Disable"));
    QVERIFY(!combo->isEnabled());
    QTRY_COMPARE(fakeEscapi_deviceCallCount("initCapture", 0), 1);
    // The camera is opened off the GUI thread.
    QCOMPARE(fakeEscapi_offThreadCallCount("initCapture"), 1);

    // Ticks keep coming, one frame each, no faster than every 100 ms.
    QTRY_VERIFY(requests() >= 2);
    QElapsedTimer elapsed;
    elapsed.start();
    const int counted = requests();
    QTRY_VERIFY(requests() >= counted + 4);
    QVERIFY2(elapsed.elapsed() >= 350, qPrintable(QString::number(elapsed.elapsed())));
    QVERIFY(!combo->isEnabled());

    button->click();
    QCOMPARE(button->text(), QString("Enable"));
    QVERIFY(combo->isEnabled());
    QCOMPARE(fakeEscapi_deviceCallCount("deinitCapture", 0), 1);
    QVERIFY(!fakeEscapi_isOpen(0));
    QVERIFY(!asksAgain());
    QCOMPARE(modals->count(), 0);
}

void TestMainWindow::secondCameraOpensSecondDevice()
{
    auto window = makeWindow(2);
    child<QComboBox>(*window, "camCombo")->setCurrentIndex(1);
    child<QPushButton>(*window, "cmdBeginCapture")->click();
    QTRY_COMPARE(fakeEscapi_deviceCallCount("initCapture", 1), 1);
    QTRY_VERIFY(requests(1) >= 1);
    QCOMPARE(fakeEscapi_deviceCallCount("initCapture", 0), 0);
    QCOMPARE(requests(0), 0);
}

void TestMainWindow::recordNeedsOutputDirectory()
{
    auto window = makeWindow(1);
    auto *button = child<QPushButton>(*window, "cmdBeginCapture");
    child<QCheckBox>(*window, "chkRecord")->setChecked(true);

    button->click();
    QCOMPARE(modals->count(), 1);
    QCOMPARE(modals->seen().first().text, QString(noOutputDirText));
    QCOMPARE(modals->seen().first().icon, QMessageBox::Information);
    QCOMPARE(button->text(), QString("Enable"));
    QVERIFY(child<QComboBox>(*window, "camCombo")->isEnabled());
    QCOMPARE(fakeEscapi_callCount("initCapture"), 0);

    // Without Record no directory is needed.
    child<QCheckBox>(*window, "chkRecord")->setChecked(false);
    button->click();
    QTRY_VERIFY(requests() >= 1);
    QCOMPARE(modals->count(), 1);
}

void TestMainWindow::failedOpenThenSuccessfulOpen()
{
    auto window = makeWindow(1);
    auto *button = child<QPushButton>(*window, "cmdBeginCapture");
    auto *combo = child<QComboBox>(*window, "camCombo");
    fakeEscapi_setInitResult(0, 0);
    const char reason[] = "camera \"Fake Camera 0\" did not start: no element \"x\" "
                          "(the Debian package gstreamer1.0-x provides it)";
    fakeEscapi_setErrorText(0, reason);

    button->click();
    QCOMPARE(button->text(), QString("Disable"));
    QTRY_COMPARE(modals->count(), 1);
    QCOMPARE(modals->seen().first().text, QString(openFailedText));
    QCOMPARE(modals->seen().first().icon, QMessageBox::Information);
    // The library's reason is in the status bar beside the box.
    QString shown = reason;
    shown[0] = 'C';
    QCOMPARE(child<QStatusBar>(*window, "statusBar")->currentMessage(), shown);
    QTRY_COMPARE(button->text(), QString("Enable"));
    QVERIFY(combo->isEnabled());
    QCOMPARE(requests(), 0);

    // The device has been freed in the meantime: it opens now.
    fakeEscapi_setInitResult(0, 1);
    button->click();
    QTRY_VERIFY(requests() >= 1);
    QCOMPARE(modals->count(), 1);
    QCOMPARE(button->text(), QString("Disable"));

    button->click();
    QCOMPARE(fakeEscapi_deviceCallCount("deinitCapture", 0), 1);
}

void TestMainWindow::slowOpenKeepsTheWindowLive()
{
    auto window = makeWindow(1);
    auto *button = child<QPushButton>(*window, "cmdBeginCapture");
    queue(0, uniformFrame(0xFF808080));
    fakeEscapi_setInitDelay(0, 1500);

    LatenessProbe probe;
    QElapsedTimer press;
    press.start();
    button->click();
    QVERIFY2(press.elapsed() < latenessLimitMs, qPrintable(QString::number(press.elapsed())));
    QCOMPARE(button->text(), QString("Disable"));
    QVERIFY(!child<QComboBox>(*window, "camCombo")->isEnabled());

    QTRY_VERIFY_WITH_TIMEOUT(requests() >= 1, 10000);
    QVERIFY(press.elapsed() >= 1400);
    qInfo("worst event-loop lateness while the camera opened: %lld ms", probe.worstMs());
    QVERIFY2(probe.worstMs() < latenessLimitMs, qPrintable(QString::number(probe.worstMs())));
    QCOMPARE(modals->count(), 0);
}

void TestMainWindow::disableWhileOpening()
{
    auto window = makeWindow(1);
    auto *button = child<QPushButton>(*window, "cmdBeginCapture");
    queue(0, uniformFrame(0xFF808080));
    fakeEscapi_setInitDelay(0, 1000);

    button->click();
    button->click();
    QCOMPARE(button->text(), QString("Enable"));
    QVERIFY(child<QComboBox>(*window, "camCombo")->isEnabled());
    // initCapture is still running: the worker closes the device once it returns.
    QCOMPARE(fakeEscapi_deviceCallCount("deinitCapture", 0), 0);
    QTRY_COMPARE_WITH_TIMEOUT(fakeEscapi_deviceCallCount("deinitCapture", 0), 1, 10000);
    QCOMPARE(fakeEscapi_offThreadCallCount("deinitCapture"), 1);
    QVERIFY(!fakeEscapi_isOpen(0));
    QVERIFY(!asksAgain());
    QCOMPARE(button->text(), QString("Enable"));
    QCOMPARE(fakeEscapi_overlapCount(), 0);
    QCOMPARE(modals->count(), 0);
}

void TestMainWindow::closingWhileOpening()
{
    auto window = makeWindow(1);
    fakeEscapi_setInitDelay(0, 500);
    const int logStart = int(qstrlen(fakeEscapi_callLog()));
    child<QPushButton>(*window, "cmdBeginCapture")->click();
    window.reset();

    QCOMPARE(QString(fakeEscapi_callLog() + logStart),
             QString("initCapture(0) deinitCapture(0) deinitCapture(0) deinitCapture(0) "));
    QCOMPARE(fakeEscapi_offThreadCallCount("deinitCapture"), 1);
    QCOMPARE(fakeEscapi_overlapCount(), 0);
    QCOMPARE(modals->count(), 0);
}

void TestMainWindow::exitReleasesEveryCameraTwiceFromTheLast()
{
    auto window = makeWindow(2);
    queue(0, uniformFrame(0xFF404040));
    child<QPushButton>(*window, "cmdBeginCapture")->click();
    QTRY_VERIFY(requests() >= 1);

    const int logStart = int(qstrlen(fakeEscapi_callLog()));
    window.reset();
    QCOMPARE(QString(fakeEscapi_callLog() + logStart),
             QString("deinitCapture(1) deinitCapture(1) deinitCapture(0) deinitCapture(0) "));
}

void TestMainWindow::emailAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("valid");

    QTest::newRow("valid") << "guard@example.com" << true;
    QTest::newRow("two-letter ending") << "a.b-c+d%e_f@mail.example.co.uk" << true;
    QTest::newRow("four-letter ending") << "guard@example.info" << true;
    QTest::newRow("capitals") << "GUARD@EXAMPLE.COM" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("no dot after the at sign") << "guard@localhost" << false;
    QTest::newRow("five-letter ending") << "guard@example.house" << false;
    QTest::newRow("one-letter ending") << "guard@example.c" << false;
    QTest::newRow("spaces inside") << "gu ard@example.com" << false;
    QTest::newRow("space around") << " guard@example.com" << false;
    QTest::newRow("text around") << "mail guard@example.com now" << false;
    QTest::newRow("no at sign") << "guard.example.com" << false;
}

void TestMainWindow::emailAddress()
{
    QFETCH(QString, address);
    QFETCH(bool, valid);

    auto window = makeWindow(1);
    auto *field = child<QLineEdit>(*window, "txtEmailAddr");
    auto *box = child<QCheckBox>(*window, "chkEmail");
    QVERIFY(field->isEnabled());
    field->setText(address);
    box->setChecked(true);

    if (valid) {
        QCOMPARE(modals->count(), 0);
        QVERIFY(box->isChecked());
        QVERIFY(!field->isEnabled());
        QCOMPARE(field->text(), address);
        box->setChecked(false);
        QVERIFY(field->isEnabled());
    } else {
        QCOMPARE(modals->count(), 1);
        QCOMPARE(modals->seen().first().text, QString("Please provide a valid email address"));
        QCOMPARE(modals->seen().first().icon, QMessageBox::NoIcon);
        QVERIFY(!box->isChecked());
        QVERIFY(field->isEnabled());
        QCOMPARE(field->text(), QString());
    }
}

void TestMainWindow::thresholdLabelFollowsSlider()
{
    auto window = makeWindow(1);
    auto *slider = child<QSlider>(*window, "hSlideDissimilarity");
    auto *label = child<QLabel>(*window, "lblSimilarValue");
    QCOMPARE(label->text(), QString("20%"));

    for (int value = 5; value <= 95; value += 5) {
        slider->setValue(value);
        QCOMPARE(label->text(), QString::number(value) + "%");
    }
    slider->setValue(20);
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_PageUp);
    QCOMPARE(label->text(), QString("25%"));
    QTest::keyClick(slider, Qt::Key_Left);
    QCOMPARE(label->text(), QString("20%"));
    QTest::keyClick(slider, Qt::Key_Home);
    QCOMPARE(label->text(), QString("5%"));
    QTest::keyClick(slider, Qt::Key_End);
    QCOMPARE(label->text(), QString("95%"));
}

void TestMainWindow::cancelledChoosersLeaveFieldsAlone()
{
    auto window = makeWindow(1);
    auto *dirField = child<QLineEdit>(*window, "txtOutputDirPath");
    auto *soundField = child<QLineEdit>(*window, "txtSoundFilePath");
    dirField->setText("/kept/");
    soundField->setText("/kept.wav");

    child<QPushButton>(*window, "btnSelectOutputDir")->click();
    child<QPushButton>(*window, "btnSelectSoundFile")->click();

    QCOMPARE(modals->count(), 2);
    QCOMPARE(modals->seen().at(0).className, QString("QFileDialog"));
    QCOMPARE(modals->seen().at(1).className, QString("QFileDialog"));
    QCOMPARE(modals->seen().at(1).title, QString("Select Audio File"));
    QCOMPARE(dirField->text(), QString("/kept/"));
    QCOMPARE(soundField->text(), QString("/kept.wav"));
}

void TestMainWindow::chosenOutputDirectoryEndsWithSeparator()
{
    auto window = makeWindow(1);
    const QString chosen = home->path() + "/frames";
    QVERIFY(QDir().mkpath(chosen));

    // Answer the chooser by picking the folder.
    modals.reset();
    QTimer picker;
    connect(&picker, &QTimer::timeout, [&] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            dialog->setDirectory(home->path());
            dialog->selectFile(chosen);
            static_cast<QDialog *>(dialog)->accept();
        }
    });
    picker.start(5);
    child<QPushButton>(*window, "btnSelectOutputDir")->click();
    picker.stop();

    QCOMPARE(child<QLineEdit>(*window, "txtOutputDirPath")->text(),
             QDir::toNativeSeparators(chosen) + QDir::separator());
}

void TestMainWindow::aboutShowsOneDialog()
{
    auto window = makeWindow(1);
    auto *about = child<QAction>(*window, "action_About");
    QVERIFY(!shownAboutDialog());
    about->trigger();
    about->trigger();
    QWidget *dialog = shownAboutDialog();
    QVERIFY(dialog);
    int shown = 0;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top->inherits("aboutdialog") && top->isVisible())
            ++shown;
    QCOMPARE(shown, 1);
    QVERIFY(!dialog->isModal());
    QCOMPARE(modals->count(), 0);
}

void TestMainWindow::firstFrameShowsLiveOnly()
{
    auto window = makeWindow(1);
    fakeEscapi_setRepeatLast(0, 0);
    queue(0, uniformFrame(0xFF336699));
    child<QPushButton>(*window, "cmdBeginCapture")->click();

    auto *live = child<QLabel>(*window, "lblLiveImage");
    auto *plot = child<QLabel>(*window, "lblDisPlotImage");
    QTRY_VERIFY(!live->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(live->pixmap(Qt::ReturnByValue).toImage().pixel(0, 0), 0xFF336699u);
    QTRY_VERIFY(requests() >= 2);
    QVERIFY(plot->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(window->windowTitle(), QString("Orvella"));
}

void TestMainWindow::labelsShowTheFrameUnscaled_data()
{
    QTest::addColumn<unsigned int>("alpha");
    QTest::addColumn<bool>("opaque");

    QTest::newRow("opaque camera") << 0xFF000000u << true;
    QTest::newRow("camera alpha shows through") << 0x80000000u << false;
}

// Every pixel different, so the part on show is plain; the second frame has
// every channel halved.
void TestMainWindow::labelsShowTheFrameUnscaled()
{
    QFETCH(unsigned int, alpha);
    QFETCH(bool, opaque);

    std::vector<unsigned int> first(480 * 320);
    std::vector<unsigned int> second(480 * 320);
    for (unsigned int y = 0; y < 320; ++y)
        for (unsigned int x = 0; x < 480; ++x) {
            first[y * 480 + x] = 0xFF000000u | x << 9 | y;
            second[y * 480 + x] = alpha | ((x << 9 | y) >> 1 & 0x7F7F7Fu);
        }
    auto window = makeWindow(1);
    fakeEscapi_setRepeatLast(0, 0);
    queue(0, first);
    queue(0, second);
    child<QPushButton>(*window, "cmdBeginCapture")->click();
    auto *live = child<QLabel>(*window, "lblLiveImage");
    auto *plot = child<QLabel>(*window, "lblDisPlotImage");
    QTRY_VERIFY(window->windowTitle() != QString("Orvella"));

    const QImage liveImage = live->pixmap(Qt::ReturnByValue).toImage();
    QCOMPARE(liveImage.size(), QSize(480, 320));
    QCOMPARE(liveImage.hasAlphaChannel(), !opaque);
    // Exactly what the plain pixmap of the frame would show.
    const QImage secondImage(reinterpret_cast<const uchar *>(second.data()), 480, 320,
                             QImage::Format_ARGB32);
    QCOMPARE(liveImage.pixel(479, 319), QPixmap::fromImage(secondImage).toImage().pixel(479, 319));
    QCOMPARE(live->testAttribute(Qt::WA_OpaquePaintEvent), opaque);
    QVERIFY(plot->testAttribute(Qt::WA_OpaquePaintEvent));

    // The labels are 320 x 240 and show the image's first 320 columns of
    // its middle 240 rows, as a label places any pixmap that is too tall.
    const QImage plotShown = plot->grab().toImage();
    QCOMPARE(plotShown.size(), QSize(320, 240));
    for (int y : {0, 1, 120, 239})
        for (int x : {0, 1, 160, 319}) {
            const unsigned int word = unsigned(x) << 9 | unsigned(y + 40);
            const unsigned int halved = word >> 1 & 0x7F7F7Fu;
            QCOMPARE(plotShown.pixel(x, y), 0xFF000000u | (word - halved));
            if (opaque)
                QCOMPARE(live->grab().toImage().pixel(x, y), 0xFF000000u | halved);
        }
}

void TestMainWindow::tickMeasuresDarkening_data()
{
    QTest::addColumn<unsigned int>("first");
    QTest::addColumn<unsigned int>("second");
    QTest::addColumn<QString>("title");
    QTest::addColumn<unsigned int>("plot");

    QTest::newRow("identical") << 0xFF808080u << 0xFF808080u << stillTitle << 0xFF000000u;
    QTest::newRow("uniformly brighter") << 0xFF404040u << 0xFFA0A0A0u << stillTitle << 0xFF000000u;
    QTest::newRow("white then black")
        << 0xFFFFFFFFu << 0xFF000000u << "Orvella - 1000% Dissimilarity" << 0xFFFFFFFFu;
    QTest::newRow("one channel") << 0xFF102030u << 0xFF201010u << "Orvella - 62.7451% Dissimilarity"
                                 << 0xFF001020u;
}

void TestMainWindow::tickMeasuresDarkening()
{
    QFETCH(unsigned int, first);
    QFETCH(unsigned int, second);
    QFETCH(QString, title);
    QFETCH(unsigned int, plot);

    auto window = makeWindow(1);
    fakeEscapi_setRepeatLast(0, 0);
    queue(0, uniformFrame(first));
    queue(0, uniformFrame(second));
    child<QPushButton>(*window, "cmdBeginCapture")->click();

    QTRY_COMPARE(window->windowTitle(), title);
    const QPixmap difference = child<QLabel>(*window, "lblDisPlotImage")->pixmap(Qt::ReturnByValue);
    QCOMPARE(difference.size(), QSize(480, 320));
    QVERIFY(allPixels(difference.toImage(), plot));
}

void TestMainWindow::recording_data()
{
    QTest::addColumn<bool>("record");
    QTest::addColumn<bool>("onlyDissimilar");
    QTest::addColumn<int>("threshold");
    QTest::addColumn<unsigned int>("darker");
    QTest::addColumn<int>("files");

    // From grey 0x80 the level is 1000 * drop / 255, truncated.
    const unsigned int level19 = 0xFF7B7B7B; // drop 5: level 19
    const unsigned int level23 = 0xFF7A7A7A; // drop 6: level 23
    QTest::newRow("record off") << false << false << 20 << 0xFF000000u << 0;
    QTest::newRow("every frame") << true << false << 95 << 0xFF808080u << 2;
    QTest::newRow("only dissimilar, under") << true << true << 20 << level19 << 0;
    QTest::newRow("only dissimilar, over") << true << true << 20 << level23 << 1;
}

void TestMainWindow::recording()
{
    QFETCH(bool, record);
    QFETCH(bool, onlyDissimilar);
    QFETCH(int, threshold);
    QFETCH(unsigned int, darker);
    QFETCH(int, files);

    QTemporaryDir out;
    auto window = makeWindow(1);
    child<QLineEdit>(*window, "txtOutputDirPath")->setText(out.path() + "/");
    child<QCheckBox>(*window, "chkRecord")->setChecked(record);
    child<QCheckBox>(*window, "chkDissimilar")->setChecked(onlyDissimilar);
    child<QSlider>(*window, "hSlideDissimilarity")->setValue(threshold);
    fakeEscapi_setRepeatLast(0, 0);
    queue(0, uniformFrame(0xFF808080));
    queue(0, uniformFrame(darker));
    queue(0, uniformFrame(0xFF808080));
    child<QPushButton>(*window, "cmdBeginCapture")->click();

    // The fourth request finds no frame: three have been processed.
    QTRY_VERIFY(requests() >= 4);
    QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), files);
}

void TestMainWindow::recordedFileNamesAndCounter()
{
    QTemporaryDir out;
    auto window = makeWindow(1);
    child<QLineEdit>(*window, "txtOutputDirPath")->setText(out.path() + "/");
    child<QCheckBox>(*window, "chkRecord")->setChecked(true);
    fakeEscapi_setRepeatLast(0, 0);
    for (int i = 0; i < 3; ++i)
        queue(0, uniformFrame(0xFF808080));
    child<QPushButton>(*window, "cmdBeginCapture")->click();
    QTRY_VERIFY(requests() >= 4);

    const QStringList names = QDir(out.path()).entryList(QDir::Files, QDir::Name);
    QCOMPARE(names.size(), 2);
    const QRegularExpression pattern("^[A-Z][a-z]{2}_[A-Z][a-z]{2}_\\d{1,2}_\\d\\d-\\d\\d-\\d\\d_"
                                     "\\d{4}_GMT_(\\d+)\\.jpg$");
    QStringList counters;
    for (const QString &name : names) {
        const QRegularExpressionMatch match = pattern.match(name);
        QVERIFY2(match.hasMatch(), qPrintable(name));
        counters << match.captured(1);
    }
    counters.sort();
    QCOMPARE(counters, QStringList({"0", "1"}));
    QImage saved(out.path() + "/" + names.first());
    QCOMPARE(saved.size(), QSize(480, 320));
}

void TestMainWindow::lostSaveIsReportedAndCounted()
{
    QTemporaryDir parent;
    const QString out = parent.path() + "/frames";
    QVERIFY(QDir().mkpath(out));
    auto window = makeWindow(1);
    auto *status = child<QStatusBar>(*window, "statusBar");
    child<QLineEdit>(*window, "txtOutputDirPath")->setText(out + "/");
    child<QCheckBox>(*window, "chkRecord")->setChecked(true);
    fakeEscapi_setRepeatLast(0, 0);
    queue(0, uniformFrame(0xFF808080));
    child<QPushButton>(*window, "cmdBeginCapture")->click();
    QTRY_VERIFY(requests() >= 2);

    // The next frame finds its folder gone.
    QVERIFY(QDir(out).removeRecursively());
    queue(0, uniformFrame(0xFF808080));
    QTRY_VERIFY(status->currentMessage().startsWith("Could not save"));
    const QString message = status->currentMessage();
    QVERIFY2(message.contains(QDir::toNativeSeparators(out)) && message.contains("_0.jpg"),
             qPrintable(message));
    QCOMPARE(child<QPushButton>(*window, "cmdBeginCapture")->text(), QString("Disable"));
    QCOMPARE(modals->count(), 0);

    // The counter moved on all the same.
    QVERIFY(QDir().mkpath(out));
    queue(0, uniformFrame(0xFF808080));
    QTRY_COMPARE(QDir(out).entryList(QDir::Files).size(), 1);
    QVERIFY(QDir(out).entryList(QDir::Files).first().endsWith("_1.jpg"));
}

void TestMainWindow::stalledCameraKeepsTheWindowLive()
{
    fakeEscapi_setDeviceName(0, "Porch", 5);
    auto window = makeWindow(1);
    auto *status = child<QStatusBar>(*window, "statusBar");
    // Three frames, then the camera goes quiet. The third moves the title,
    // which marks the moment of the last frame.
    const QString lastFrameTitle = "Orvella - 58.8235% Dissimilarity";
    QElapsedTimer clock;
    clock.start();
    qint64 lastFrameAt = -1;
    QTime lastFrame;
    connect(window.get(), &QWidget::windowTitleChanged, [&](const QString &title) {
        if (title == lastFrameTitle) {
            lastFrameAt = clock.elapsed();
            lastFrame = QTime::currentTime();
        }
    });
    qint64 shownAt = -1;
    connect(status, &QStatusBar::messageChanged, [&](const QString &text) {
        if (shownAt < 0 && !text.isEmpty())
            shownAt = clock.elapsed();
    });
    fakeEscapi_setRepeatLast(0, 0);
    queue(0, uniformFrame(0xFFFFFFFF));
    queue(0, uniformFrame(0xFFFFFFFF));
    queue(0, uniformFrame(0xFFF0F0F0));
    child<QPushButton>(*window, "cmdBeginCapture")->click();
    QTRY_VERIFY(lastFrameAt >= 0);
    // What the library says while the camera is gone follows the fixed text.
    const char reason[] = "camera \"Porch\" stopped, trying again every 2 s: gone";
    fakeEscapi_setErrorText(0, reason);

    LatenessProbe probe;
    QVERIFY(QTest::qWaitFor([&] { return clock.elapsed() >= lastFrameAt + 3000; }, 10000));
    qInfo("worst event-loop lateness during the stall: %lld ms", probe.worstMs());
    QVERIFY2(probe.worstMs() < latenessLimitMs, qPrintable(QString::number(probe.worstMs())));

    // Said after about a second, with the camera's name and the last frame's time.
    const qint64 shownAfter = shownAt - lastFrameAt;
    QVERIFY2(shownAt >= 0 && shownAfter >= 900 && shownAfter <= 2500,
             qPrintable(QString::number(shownAfter)));
    const QString prefix = "No picture from Porch since ";
    const QString message = status->currentMessage();
    QVERIFY2(message.startsWith(prefix), qPrintable(message));
    QVERIFY2(message.endsWith(QString(" (") + reason + ")"), qPrintable(message));
    const QTime since = QTime::fromString(message.mid(prefix.size(), 8), "hh:mm:ss");
    QVERIFY2(since.isValid(), qPrintable(message));
    const int secondsBefore = (since.secsTo(lastFrame) + 86400) % 86400;
    QVERIFY2(secondsBefore <= 1, qPrintable(message + " " + lastFrame.toString()));
    QCOMPARE(window->windowTitle(), lastFrameTitle);

    // Frames come back: the message goes, the title moves again.
    queue(0, uniformFrame(0xFF000000));
    QTRY_VERIFY(status->currentMessage().isEmpty());
    QTRY_COMPARE(window->windowTitle(), QString("Orvella - 941.176% Dissimilarity"));
    QCOMPARE(child<QPushButton>(*window, "cmdBeginCapture")->text(), QString("Disable"));
    QCOMPARE(modals->count(), 0);
}

void TestMainWindow::disableDuringStall()
{
    auto window = makeWindow(1);
    auto *status = child<QStatusBar>(*window, "statusBar");
    auto *button = child<QPushButton>(*window, "cmdBeginCapture");
    fakeEscapi_setRepeatLast(0, 0);
    queue(0, uniformFrame(0xFFFFFFFF));
    button->click();
    QTRY_VERIFY_WITH_TIMEOUT(status->currentMessage().startsWith("No picture from Fake Camera 0"),
                             10000);

    // A request is open and unanswered; Disable does not wait for it.
    QElapsedTimer press;
    press.start();
    button->click();
    QVERIFY2(press.elapsed() < latenessLimitMs, qPrintable(QString::number(press.elapsed())));
    QCOMPARE(button->text(), QString("Enable"));
    QVERIFY(child<QComboBox>(*window, "camCombo")->isEnabled());
    QCOMPARE(fakeEscapi_deviceCallCount("deinitCapture", 0), 1);
    QVERIFY(!fakeEscapi_isOpen(0));
    QVERIFY(status->currentMessage().isEmpty());
    QVERIFY(!asksAgain());
}

void TestMainWindow::processingChangeStartsANewComparison_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("filterBefore");
    QTest::addColumn<int>("value");

    QTest::newRow("brightness one notch down") << "hSlideBrightnessAdjust" << 0 << 9;
    QTest::newRow("filter") << "comboFilterChoice" << 0 << 1;
    QTest::newRow("kernel") << "comboKernelSize" << 1 << 2;
}

void TestMainWindow::processingChangeStartsANewComparison()
{
    QFETCH(QString, control);
    QFETCH(int, filterBefore);
    QFETCH(int, value);

    QTemporaryDir out;
    auto window = makeWindow(1);
    child<QLineEdit>(*window, "txtOutputDirPath")->setText(out.path() + "/");
    child<QCheckBox>(*window, "chkRecord")->setChecked(true);
    child<QCheckBox>(*window, "chkDissimilar")->setChecked(true);
    child<QSlider>(*window, "hSlideDissimilarity")->setValue(5);
    child<QComboBox>(*window, "comboFilterChoice")->setCurrentIndex(filterBefore);
    queue(0, sceneFrame());
    child<QPushButton>(*window, "cmdBeginCapture")->click();
    QTRY_COMPARE(window->windowTitle(), QString(stillTitle));

    QSignalSpy titles(window.get(), &QWidget::windowTitleChanged);
    if (control == "hSlideBrightnessAdjust")
        child<QSlider>(*window, "hSlideBrightnessAdjust")->setValue(value);
    else
        child<QComboBox>(*window, qPrintable(control))->setCurrentIndex(value);
    const int changedAt = requests();
    QTRY_VERIFY(requests() >= changedAt + 3);

    // The scene stayed still: nothing was measured, saved or raised.
    QCOMPARE(titles.count(), 0);
    QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), 0);
}

void TestMainWindow::otherCameraStartsANewComparison()
{
    QTemporaryDir out;
    auto window = makeWindow(2);
    auto *button = child<QPushButton>(*window, "cmdBeginCapture");
    child<QLineEdit>(*window, "txtOutputDirPath")->setText(out.path() + "/");
    child<QCheckBox>(*window, "chkRecord")->setChecked(true);
    child<QCheckBox>(*window, "chkDissimilar")->setChecked(true);
    child<QSlider>(*window, "hSlideDissimilarity")->setValue(5);
    queue(0, uniformFrame(0xFFFFFFFF));
    queue(1, uniformFrame(0xFF000000));
    button->click();
    QTRY_COMPARE(window->windowTitle(), QString(stillTitle));
    button->click();

    QSignalSpy titles(window.get(), &QWidget::windowTitleChanged);
    child<QComboBox>(*window, "camCombo")->setCurrentIndex(1);
    button->click();
    QTRY_VERIFY(requests(1) >= 3);
    QCOMPARE(titles.count(), 0);
    QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), 0);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
