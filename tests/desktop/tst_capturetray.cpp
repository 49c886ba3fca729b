#include "capturetray.h"
#include "desktoptest.h"
#include "modalcloser.h"

#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>

using State = CaptureTray::State;

class TestCaptureTray : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void iconsAreDistinct();
    void followsEnableAndDisable();
    void failedOpenReturnsToIdle();
    void levelAgainstThreshold_data();
    void levelAgainstThreshold();
    void levelsFromTheCameraDriveTheIcon();
    void menuActsLikeTheWindow();

private:
    std::unique_ptr<DesktopFixture> fixture;
    std::unique_ptr<ModalCloser> modals;
};

void TestCaptureTray::init()
{
    fixture.reset(new DesktopFixture);
    modals.reset(new ModalCloser);
}

void TestCaptureTray::cleanup()
{
    modals.reset();
    fixture.reset();
}

void TestCaptureTray::iconsAreDistinct()
{
    const QImage idle = CaptureTray::icon(State::Idle).pixmap(22).toImage();
    const QImage watching = CaptureTray::icon(State::Watching).pixmap(22).toImage();
    const QImage alert = CaptureTray::icon(State::Alert).pixmap(22).toImage();
    QVERIFY(!idle.isNull());
    QVERIFY(!watching.isNull());
    QVERIFY(!alert.isNull());
    QVERIFY(idle != watching);
    QVERIFY(watching != alert);
    QVERIFY(idle != alert);
}

void TestCaptureTray::followsEnableAndDisable()
{
    queueUniformFrame(0, 0xFF808080);
    auto window = fixture->makeWindow(1);
    window->show();
    CaptureTray tray(*window);
    QCOMPARE(tray.state(), State::Idle);

    auto *button = child<QPushButton>(*window, "cmdBeginCapture");
    button->click();
    QTRY_COMPARE(tray.state(), State::Watching);
    button->click();
    QTRY_COMPARE(tray.state(), State::Idle);
}

void TestCaptureTray::failedOpenReturnsToIdle()
{
    fakeEscapi_setInitResult(0, 0);
    auto window = fixture->makeWindow(1);
    window->show();
    CaptureTray tray(*window);
    QSignalSpy changes(&tray, &CaptureTray::stateChanged);

    child<QPushButton>(*window, "cmdBeginCapture")->click();
    QTRY_COMPARE(modals->count(), 1);
    QTRY_COMPARE(tray.state(), State::Idle);
    // It may pass through Watching while the device is being opened.
    QVERIFY(changes.isEmpty() || changes.last().at(0).value<State>() == State::Idle);
}

void TestCaptureTray::levelAgainstThreshold_data()
{
    QTest::addColumn<bool>("compared");
    QTest::addColumn<bool>("alerting");
    QTest::addColumn<State>("state");
    QTest::newRow("below") << true << false << State::Watching;
    QTest::newRow("at or over") << true << true << State::Alert;
    QTest::newRow("first frame") << false << false << State::Watching;
}

// The tick decides whether a level reaches the threshold; the tray shows it.
void TestCaptureTray::levelAgainstThreshold()
{
    QFETCH(bool, compared);
    QFETCH(bool, alerting);
    QFETCH(State, state);

    queueUniformFrame(0, 0xFF808080);
    auto window = fixture->makeWindow(1);
    window->show();
    CaptureTray tray(*window);
    WatchSession &session = window->watchSession();
    TickResult tick;
    tick.compared = compared;
    tick.alerting = alerting;
    TickResult still;
    still.compared = true;

    // A tick while idle changes nothing.
    emit session.ticked(tick);
    QCOMPARE(tray.state(), State::Idle);

    child<QPushButton>(*window, "cmdBeginCapture")->click();
    QTRY_COMPARE(tray.state(), State::Watching);
    emit session.ticked(tick);
    QCOMPARE(tray.state(), state);
    emit session.ticked(still);
    QCOMPARE(tray.state(), State::Watching);
}

void TestCaptureTray::levelsFromTheCameraDriveTheIcon()
{
    // White then black: one tick at level 1000, then the black frame repeats
    // at level 0.
    queueUniformFrame(0, 0xFFFFFFFF);
    queueUniformFrame(0, 0xFF000000);
    auto window = fixture->makeWindow(1);
    window->show();
    CaptureTray tray(*window);
    QSignalSpy changes(&tray, &CaptureTray::stateChanged);

    auto *button = child<QPushButton>(*window, "cmdBeginCapture");
    button->click();
    QTRY_COMPARE(changes.size(), 3);
    QCOMPARE(changes.at(0).at(0).value<State>(), State::Watching);
    QCOMPARE(changes.at(1).at(0).value<State>(), State::Alert);
    QCOMPARE(changes.at(2).at(0).value<State>(), State::Watching);

    button->click();
    QTRY_COMPARE(tray.state(), State::Idle);
}

void TestCaptureTray::menuActsLikeTheWindow()
{
    queueUniformFrame(0, 0xFF808080);
    auto window = fixture->makeWindow(1);
    window->show();
    CaptureTray tray(*window);
    const QList<QAction *> actions = tray.menu().actions();
    QCOMPARE(actions.size(), 4); // Show/Hide, Enable/Disable, separator, Exit
    QAction *showHide = actions.at(0);
    QAction *capture = actions.at(1);
    QAction *exit = actions.at(3);
    QCOMPARE(exit->text(), QString("Exit"));

    emit tray.menu().aboutToShow();
    QCOMPARE(showHide->text(), QString("Hide"));
    QCOMPARE(capture->text(), QString("Enable"));

    capture->trigger();
    QCOMPARE(child<QPushButton>(*window, "cmdBeginCapture")->text(), QString("Disable"));
    QTRY_COMPARE(tray.state(), State::Watching);
    emit tray.menu().aboutToShow();
    QCOMPARE(capture->text(), QString("Disable"));

    showHide->trigger();
    QVERIFY(!window->isVisible());
    emit tray.menu().aboutToShow();
    QCOMPARE(showHide->text(), QString("Show"));
    showHide->trigger();
    QVERIFY(window->isVisible());

    capture->trigger();
    QTRY_COMPARE(tray.state(), State::Idle);

    exit->trigger();
    QVERIFY(!window->isVisible());
}

QTEST_MAIN(TestCaptureTray)
#include "tst_capturetray.moc"
