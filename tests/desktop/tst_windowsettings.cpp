#include "desktoptest.h"
#include "modalcloser.h"
#include "windowsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>

namespace
{

// Everything a user sets or sees of the controls, for comparing whole states.
QVariantMap controlState(MainWindow &window)
{
    QVariantMap state;
    state["camera"] = child<QComboBox>(window, "camCombo")->currentIndex();
    state["filter"] = child<QComboBox>(window, "comboFilterChoice")->currentIndex();
    state["kernel"] = child<QComboBox>(window, "comboKernelSize")->currentIndex();
    state["brightness"] = child<QSlider>(window, "hSlideBrightnessAdjust")->value();
    state["threshold"] = child<QSlider>(window, "hSlideDissimilarity")->value();
    state["thresholdLabel"] = child<QLabel>(window, "lblSimilarValue")->text();
    state["record"] = child<QCheckBox>(window, "chkRecord")->isChecked();
    state["onlyDissimilar"] = child<QCheckBox>(window, "chkDissimilar")->isChecked();
    state["outputDir"] = child<QLineEdit>(window, "txtOutputDirPath")->text();
    state["sendEmail"] = child<QCheckBox>(window, "chkEmail")->isChecked();
    state["emailAddress"] = child<QLineEdit>(window, "txtEmailAddr")->text();
    state["emailEditable"] = child<QLineEdit>(window, "txtEmailAddr")->isEnabled();
    state["playSound"] = child<QCheckBox>(window, "chkPlaySound")->isChecked();
    state["soundFile"] = child<QLineEdit>(window, "txtSoundFilePath")->text();
    state["caption"] = child<QPushButton>(window, "cmdBeginCapture")->text();
    state["title"] = window.windowTitle();
    return state;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestWindowSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstStartIsTheFormState();
    void everyControlRoundTrips();
    void goneCameraFallsBackToTheFirst();
    void invalidAddressLeavesSendEmailOff();
    void goneFolderTurnsRecordOff();
    void recordWithoutFolderIsKept();
    void damagedFile_data();
    void damagedFile();
    void alertSettingsRestored_data();
    void alertSettingsRestored();

private:
    std::unique_ptr<DesktopFixture> fixture;
    std::unique_ptr<ModalCloser> modals;
};

void TestWindowSettings::init()
{
    fixture.reset(new DesktopFixture);
    modals.reset(new ModalCloser);
}

void TestWindowSettings::cleanup()
{
    modals.reset();
    fixture.reset();
}

void TestWindowSettings::firstStartIsTheFormState()
{
    auto plain = fixture->makeWindow(2);
    const QVariantMap formState = controlState(*plain);
    plain.reset();

    auto window = fixture->makeWindow(2);
    {
        WindowSettings settings(*window);
        window->show();
        QCOMPARE(controlState(*window), formState);
        QCOMPARE(window->statusBar()->currentMessage(), QString());
    }
    QCOMPARE(modals->count(), 0);
    // Starting alone writes nothing.
    QVERIFY(!QFile::exists(WindowSettings::filePath()));

    QCOMPARE(formState["camera"].toInt(), 0);
    QCOMPARE(formState["filter"].toInt(), 0);
    QCOMPARE(formState["kernel"].toInt(), 0);
    QCOMPARE(formState["brightness"].toInt(), 10);
    QCOMPARE(formState["threshold"].toInt(), 20);
    QCOMPARE(formState["thresholdLabel"].toString(), QString("20%"));
    QVERIFY(!formState["record"].toBool());
    QVERIFY(!formState["sendEmail"].toBool());
    QVERIFY(formState["emailEditable"].toBool());
    QCOMPARE(formState["caption"].toString(), QString("Enable"));
}

void TestWindowSettings::everyControlRoundTrips()
{
    QTemporaryDir output;
    const QString outputDir = QDir::toNativeSeparators(output.path()) + QDir::separator();
    const QPoint position(123, 77);
    QVariantMap chosen;
    {
        auto window = fixture->makeWindow(3);
        WindowSettings settings(*window);
        window->show();
        child<QComboBox>(*window, "camCombo")->setCurrentIndex(2);
        child<QComboBox>(*window, "comboFilterChoice")->setCurrentIndex(3);
        child<QComboBox>(*window, "comboKernelSize")->setCurrentIndex(2);
        child<QSlider>(*window, "hSlideBrightnessAdjust")->setValue(17);
        child<QSlider>(*window, "hSlideDissimilarity")->setValue(35);
        child<QLineEdit>(*window, "txtOutputDirPath")->setText(outputDir);
        child<QCheckBox>(*window, "chkRecord")->setChecked(true);
        child<QCheckBox>(*window, "chkDissimilar")->setChecked(true);
        child<QLineEdit>(*window, "txtEmailAddr")->setText("Guard+Cam@Example.org");
        child<QCheckBox>(*window, "chkEmail")->setChecked(true);
        child<QLineEdit>(*window, "txtSoundFilePath")->setText("/sounds/bell.ogg");
        child<QCheckBox>(*window, "chkPlaySound")->setChecked(true);
        window->move(position);
        chosen = controlState(*window);
        QCOMPARE(modals->count(), 0);
    }
    QCOMPARE(chosen["emailEditable"].toBool(), false);

    auto window = fixture->makeWindow(3);
    WindowSettings settings(*window);
    window->show();
    QCOMPARE(controlState(*window), chosen);
    QCOMPARE(window->pos(), position);
    QCOMPARE(window->statusBar()->currentMessage(), QString());
    QCOMPARE(modals->count(), 0);

    // Unticking writes as well: a third start sees the boxes off.
    child<QCheckBox>(*window, "chkRecord")->setChecked(false);
    child<QCheckBox>(*window, "chkEmail")->setChecked(false);
    QSettings file("Kelvane", "Orvella");
    QCOMPARE(file.value("record").toString(), QString("false"));
    QCOMPARE(file.value("sendEmail").toString(), QString("false"));
    QCOMPARE(file.value("camera").toString(), QString("Fake Camera 2"));
}

void TestWindowSettings::goneCameraFallsBackToTheFirst()
{
    {
        QSettings file("Kelvane", "Orvella");
        file.setValue("camera", "Fake Camera 4");
        file.setValue("threshold", 45);
    }
    auto window = fixture->makeWindow(2);
    WindowSettings settings(*window);
    QCOMPARE(child<QComboBox>(*window, "camCombo")->currentIndex(), 0);
    QCOMPARE(child<QSlider>(*window, "hSlideDissimilarity")->value(), 45);
    QVERIFY(window->statusBar()->currentMessage().contains("\"Fake Camera 4\""));
    QVERIFY(window->statusBar()->currentMessage().contains("\"Fake Camera 0\""));
    // The remembered camera stays remembered until the user picks another.
    QCOMPARE(QSettings("Kelvane", "Orvella").value("camera").toString(), QString("Fake Camera 4"));
}

void TestWindowSettings::invalidAddressLeavesSendEmailOff()
{
    {
        QSettings file("Kelvane", "Orvella");
        file.setValue("sendEmail", true);
        file.setValue("emailAddress", "guard@example.museum");
    }
    auto window = fixture->makeWindow(1);
    WindowSettings settings(*window);
    window->show();
    QVERIFY(!child<QCheckBox>(*window, "chkEmail")->isChecked());
    QCOMPARE(child<QLineEdit>(*window, "txtEmailAddr")->text(), QString("guard@example.museum"));
    QVERIFY(child<QLineEdit>(*window, "txtEmailAddr")->isEnabled());
    QVERIFY(window->statusBar()->currentMessage().contains("Send Email is off"));
    QCOMPARE(modals->count(), 0);
}

void TestWindowSettings::goneFolderTurnsRecordOff()
{
    const QString gone = fixture->home.path() + "/recordings/";
    {
        QSettings file("Kelvane", "Orvella");
        file.setValue("record", true);
        file.setValue("onlyDissimilar", true);
        file.setValue("outputDir", gone);
    }
    auto window = fixture->makeWindow(1);
    WindowSettings settings(*window);
    window->show();
    QCOMPARE(child<QLineEdit>(*window, "txtOutputDirPath")->text(), gone);
    QVERIFY(!child<QCheckBox>(*window, "chkRecord")->isChecked());
    QVERIFY(child<QCheckBox>(*window, "chkDissimilar")->isChecked());
    QVERIFY(window->statusBar()->currentMessage().contains("Record is off"));
    QVERIFY(window->statusBar()->currentMessage().contains(gone));
    QCOMPARE(modals->count(), 0);
}

void TestWindowSettings::recordWithoutFolderIsKept()
{
    // Enable asks for the folder then, as it does after a click on Record.
    QSettings("Kelvane", "Orvella").setValue("record", true);
    auto window = fixture->makeWindow(1);
    WindowSettings settings(*window);
    QVERIFY(child<QCheckBox>(*window, "chkRecord")->isChecked());
    QCOMPARE(window->statusBar()->currentMessage(), QString());
}

void TestWindowSettings::damagedFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("unclosed section") << QByteArray("[General\nthreshold=35\n");
    QTest::newRow("number that is none") << QByteArray("[General]\nthreshold=35\nkernel=abc\n");
    QTest::newRow("number out of range") << QByteArray("[General]\nthreshold=35\nfilter=9\n");
    QTest::newRow("flag that is none") << QByteArray("[General]\nthreshold=35\nrecord=maybe\n");
    QTest::newRow("list for a text") << QByteArray("[General]\nthreshold=35\noutputDir=/a, /b\n");
    QTest::newRow("geometry of another kind")
        << QByteArray("[General]\nthreshold=35\ngeometry=@ByteArray(abcdefgh)\n");
    static const char binary[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\xfe";
    QTest::newRow("binary") << QByteArray(binary, sizeof binary - 1);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("folder in its place") << QByteArray("folder");
}

void TestWindowSettings::damagedFile()
{
    QFETCH(QByteArray, content);
    auto plain = fixture->makeWindow(2);
    const QVariantMap formState = controlState(*plain);
    plain.reset();

    const QString path = WindowSettings::filePath();
    if (QTest::currentDataTag() == QByteArray("folder in its place"))
        QVERIFY(QDir().mkpath(path));
    else
        writeFile(path, content);

    {
        auto window = fixture->makeWindow(2);
        WindowSettings settings(*window);
        window->show();
        QCOMPARE(controlState(*window), formState);
        QVERIFY(window->statusBar()->currentMessage().contains("could not be read"));
        QCOMPARE(modals->count(), 0);
        QVERIFY(QFileInfo::exists(WindowSettings::damagedFilePath()));

        // The next change starts a sound file.
        child<QSlider>(*window, "hSlideDissimilarity")->setValue(40);
    }
    auto window = fixture->makeWindow(2);
    WindowSettings settings(*window);
    QCOMPARE(child<QSlider>(*window, "hSlideDissimilarity")->value(), 40);
    QCOMPARE(window->statusBar()->currentMessage(), QString());
}

void TestWindowSettings::alertSettingsRestored_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("measure");
    QTest::addColumn<bool>("lighting");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("webhook");
    QTest::addColumn<QString>("message");
    const int area = AlertSettings::MovingArea, darkening = AlertSettings::Darkening;
    QTest::newRow("a threshold from before the measures")
        << QByteArray("[General]\nthreshold=35\n") << darkening << true << 0 << false << QString();
    QTest::newRow("chosen measure")
        << QByteArray("[General]\nthreshold=35\n[alerts]\nmeasure=area\n") << area << true << 0
        << false << QString();
    QTest::newRow("only the dialog's settings")
        << QByteArray("[alerts]\nlightingChanges=false\n[output]\nkind=both\n"
                      "[push]\nwebhook\\enabled=true\nwebhook\\url=http://127.0.0.1:9/h\n")
        << area << false << int(OutputSettings::FramesAndClips) << true << QString();
    QTest::newRow("a guard not understood")
        << QByteArray("[General]\nthreshold=35\n[alerts]\nlightingChanges=perhaps\n") << darkening
        << true << 0 << false
        << "Alert settings not understood, their defaults are in use: alerts/lightingChanges.";
}

void TestWindowSettings::alertSettingsRestored()
{
    QFETCH(QByteArray, content);
    QFETCH(int, measure);
    QFETCH(bool, lighting);
    QFETCH(int, kind);
    QFETCH(bool, webhook);
    QFETCH(QString, message);
    writeFile(WindowSettings::filePath(), content);
    auto window = fixture->makeWindow(1);
    WindowSettings settings(*window);
    QCOMPARE(int(window->currentAlertSettings().measure), measure);
    QCOMPARE(window->currentAlertSettings().lightingChanges, lighting);
    QCOMPARE(int(window->currentOutputSettings().kind), kind);
    QCOMPARE(window->currentPushSettings().webhook.enabled, webhook);
    QCOMPARE(window->statusBar()->currentMessage(), message);
    QVERIFY(!QFileInfo::exists(WindowSettings::damagedFilePath()));
}

QTEST_MAIN(TestWindowSettings)
#include "tst_windowsettings.moc"
