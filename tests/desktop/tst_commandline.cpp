#include "capturetray.h"
#include "commandline.h"
#include "desktoptest.h"
#include "modalcloser.h"
#include "orvellaversion.h"
#include "windowstart.h"

#include <QCheckBox>
#include <QComboBox>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>

namespace
{

const char noOutputDirText[] = "You must specify an output directory to record any activity.";

StartOptions parsed(const QStringList &arguments)
{
    CommandLine commandLine;
    if (!commandLine.parse(QStringList{"orvella"} + arguments))
        qFatal("arguments not parsed");
    return commandLine.startOptions();
}

// Runs the built program without a display or a platform choice.
QProcess *runProgram(const QStringList &arguments, const QString &program = ORVELLA_PROGRAM)
{
    auto *process = new QProcess;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("QT_QPA_PLATFORM");
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("LD_LIBRARY_PATH");
    environment.insert("ORVELLA_CAPTURE_SOURCES", "Hallway=demo;Porch=videotestsrc");
    process->setProcessEnvironment(environment);
    process->start(program, arguments);
    if (!process->waitForFinished(60000))
        qFatal("program did not finish");
    return process;
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void versionWithoutDisplay();
    void listCamerasLoadsTheLibraryBesideTheProgram();
    void listCamerasWithoutLibraryFails();
    void startOptions();
    void watchStartsCapture();
    void watchWithRecordAndNoFolderShowsTheMessage();
    void cameraByName_data();
    void cameraByName();
    void minimizedWithoutTray();

private:
    std::unique_ptr<DesktopFixture> fixture;
    std::unique_ptr<ModalCloser> modals;
};

void TestCommandLine::init()
{
    fixture.reset(new DesktopFixture);
    modals.reset(new ModalCloser);
}

void TestCommandLine::cleanup()
{
    modals.reset();
    fixture.reset();
}

void TestCommandLine::versionWithoutDisplay()
{
    std::unique_ptr<QProcess> process(runProgram({"--version"}));
    QCOMPARE(process->exitCode(), 0);
    QCOMPARE(process->readAllStandardOutput(), QByteArray("orvella 1.0\n"));
    QCOMPARE(QByteArray(ORVELLA_VERSION), QByteArray("1.0"));
}

void TestCommandLine::listCamerasLoadsTheLibraryBesideTheProgram()
{
    // Only the real capture library knows the cameras of this variable.
    std::unique_ptr<QProcess> process(runProgram({"--list-cameras"}));
    QCOMPARE(process->exitCode(), 0);
    const QByteArray out = process->readAllStandardOutput();
    QVERIFY2(out.endsWith("Hallway\nPorch\n"), out.constData());
}

void TestCommandLine::listCamerasWithoutLibraryFails()
{
    const QString lonely = fixture->home.filePath("orvella");
    QVERIFY(QFile::copy(ORVELLA_PROGRAM, lonely));
    std::unique_ptr<QProcess> process(runProgram({"--list-cameras"}, lonely));
    QCOMPARE(process->exitCode(), 1);
    QCOMPARE(process->readAllStandardOutput(), QByteArray());
    QVERIFY(process->readAllStandardError().contains("could not be loaded"));
}

void TestCommandLine::startOptions()
{
    StartOptions none = parsed({});
    QCOMPARE(none.camera, QString());
    QVERIFY(!none.watch);
    QVERIFY(!none.minimized);

    StartOptions all = parsed({"--camera", "Front Door", "--watch", "--minimized"});
    QCOMPARE(all.camera, QString("Front Door"));
    QVERIFY(all.watch);
    QVERIFY(all.minimized);

    CommandLine wrong;
    QVERIFY(!wrong.parse({"orvella", "--nonsense"}));
    CommandLine version;
    QVERIFY(version.parse({"orvella", "--version"}));
    QVERIFY(version.isConsoleRequest());
    QVERIFY(!CommandLine().isConsoleRequest());
}

void TestCommandLine::watchStartsCapture()
{
    queueUniformFrame(0, 0xFF808080);
    auto window = fixture->makeWindow(1);
    CaptureTray tray(*window);
    StartOptions options;
    options.watch = true;
    startWindow(*window, tray, options);

    QVERIFY(window->isVisible());
    auto *button = child<QPushButton>(*window, "cmdBeginCapture");
    QTRY_COMPARE(button->text(), QString("Disable"));
    QTRY_VERIFY(fakeEscapi_deviceCallCount("doCapture", 0) >= 2);
    QCOMPARE(fakeEscapi_deviceCallCount("initCapture", 0), 1);
    QCOMPARE(modals->count(), 0);
}

void TestCommandLine::watchWithRecordAndNoFolderShowsTheMessage()
{
    auto window = fixture->makeWindow(1);
    child<QCheckBox>(*window, "chkRecord")->setChecked(true);
    CaptureTray tray(*window);
    StartOptions options;
    options.watch = true;
    startWindow(*window, tray, options);

    QTRY_COMPARE(modals->count(), 1);
    QCOMPARE(modals->seen().first().text, QString(noOutputDirText));
    QCOMPARE(modals->seen().first().icon, QMessageBox::Information);
    QCOMPARE(child<QPushButton>(*window, "cmdBeginCapture")->text(), QString("Enable"));
    QCOMPARE(fakeEscapi_callCount("initCapture"), 0);
}

void TestCommandLine::cameraByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("message");
    QTest::newRow("known") << "Fake Camera 2" << 2 << QString();
    QTest::newRow("unknown") << "Garden" << 0
                             << "No camera is named \"Garden\"; using \"Fake Camera 0\".";
    QTest::newRow("case differs")
        << "fake camera 1" << 0 << "No camera is named \"fake camera 1\"; using \"Fake Camera 0\".";
}

void TestCommandLine::cameraByName()
{
    QFETCH(QString, name);
    QFETCH(int, selected);
    QFETCH(QString, message);

    auto window = fixture->makeWindow(3);
    CaptureTray tray(*window);
    StartOptions options;
    options.camera = name;
    startWindow(*window, tray, options);
    QCOMPARE(child<QComboBox>(*window, "camCombo")->currentIndex(), selected);
    QCOMPARE(window->statusBar()->currentMessage(), message);
    QCOMPARE(modals->count(), 0);
}

void TestCommandLine::minimizedWithoutTray()
{
    auto window = fixture->makeWindow(1);
    CaptureTray tray(*window);
    QVERIFY(!tray.isInTray()); // the offscreen platform has none
    StartOptions options;
    options.minimized = true;
    startWindow(*window, tray, options);
    QVERIFY(window->isMinimized());
}

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
