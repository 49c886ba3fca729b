#include "capturelibrary.h"
#include "fakeescapi.h"
#include "watchsession.h"
#include "webcam.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <vector>

using State = WatchSession::State;

// The session's states and reports against the scriptable library; what the
// tick computes is tested on its own.
class TestWatchSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { camera.reset(); }

    void opensThenTicks();
    void failedOpenIsReportedBeforeIdle();
    void stopInsideTheFailureReport();
    void stopWhileOpeningClosesTheDevice();
    void settingsAreReadForEveryFrame();
    void eventEndsWhenTheCameraFallsSilent();

private:
    void queue(unsigned int word)
    {
        const std::vector<unsigned int> frame(8 * 8, word);
        fakeEscapi_queueFrame(0, frame.data(), int(frame.size()));
    }

    std::unique_ptr<Webcam> camera;
};

void TestWatchSession::init()
{
    qRegisterMetaType<TickResult>();
    qRegisterMetaType<WatchSession::State>();
    qRegisterMetaType<Webcam *>();
    fakeEscapi_reset();
    fakeEscapi_setDeviceCount(1);
    QCOMPARE(setupCaptureLibrary(), 1);
    camera.reset(new Webcam(0, 8, 8));
    camera->usable = true;
}

void TestWatchSession::opensThenTicks()
{
    queue(0xFFFFFFFF);
    queue(0xFF000000);
    WatchSession session;
    QSignalSpy states(&session, &WatchSession::stateChanged);
    QSignalSpy ticks(&session, &WatchSession::ticked);

    session.start(camera.get());
    QCOMPARE(session.state(), State::Opening);
    QCOMPARE(session.camera(), camera.get());
    QTRY_COMPARE(session.state(), State::Watching);
    QTRY_VERIFY(ticks.size() >= 2);
    // A new run's first frame only starts a comparison.
    QVERIFY(!ticks.at(0).at(0).value<TickResult>().compared);
    QCOMPARE(ticks.at(1).at(0).value<TickResult>().level, 1000);

    session.stop();
    QCOMPARE(session.state(), State::Idle);
    QVERIFY(!session.camera());
    QVERIFY(!fakeEscapi_isOpen(0));
    QCOMPARE(states.size(), 3);
    QCOMPARE(states.at(0).at(0).value<State>(), State::Opening);
    QCOMPARE(states.at(1).at(0).value<State>(), State::Watching);
    QCOMPARE(states.at(2).at(0).value<State>(), State::Idle);
}

void TestWatchSession::failedOpenIsReportedBeforeIdle()
{
    fakeEscapi_setInitResult(0, 0);
    WatchSession session;
    QStringList order;
    connect(&session, &WatchSession::openFailed, this, [&](Webcam *failed) {
        order << "failed";
        QCOMPARE(failed, camera.get());
        QCOMPARE(session.state(), State::Opening);
    });
    connect(&session, &WatchSession::stateChanged, this,
            [&](State state) { order << QVariant::fromValue(state).toString(); });

    session.start(camera.get());
    QTRY_COMPARE(session.state(), State::Idle);
    QCOMPARE(order, QStringList({"Opening", "failed", "Idle"}));
    QVERIFY(!camera->usable);
}

// The window's report is a modal box: the user may press Disable, or Enable
// again, inside it.
void TestWatchSession::stopInsideTheFailureReport()
{
    fakeEscapi_setInitResult(0, 0);
    WatchSession session;
    connect(&session, &WatchSession::openFailed, this, [&] { session.stop(); });
    QSignalSpy states(&session, &WatchSession::stateChanged);

    session.start(camera.get());
    QTRY_COMPARE(session.state(), State::Idle);
    QCOMPARE(states.size(), 2);
    QCOMPARE(fakeEscapi_callCount("deinitCapture"), 0);

    // Started again inside the report: the new open is not undone after it.
    WatchSession again;
    connect(&again, &WatchSession::openFailed, this, [&] {
        fakeEscapi_setInitResult(0, 1);
        camera->usable = true;
        queue(0xFF808080);
        again.start(camera.get());
    });
    fakeEscapi_setInitResult(0, 0);
    again.start(camera.get());
    QTRY_COMPARE(again.state(), State::Watching);
    QCOMPARE(again.camera(), camera.get());
}

void TestWatchSession::stopWhileOpeningClosesTheDevice()
{
    fakeEscapi_setInitDelay(0, 200);
    WatchSession session;
    QSignalSpy failed(&session, &WatchSession::openFailed);
    session.start(camera.get());
    session.stop();
    QCOMPARE(session.state(), State::Idle);
    session.shutDown();
    QVERIFY(!fakeEscapi_isOpen(0));
    QCOMPARE(failed.size(), 0);
}

void TestWatchSession::settingsAreReadForEveryFrame()
{
    queue(0xFF808080);
    queue(0xFF7A7A7A); // a drop of 6: level 23
    WatchSession session;
    int threshold = 95;
    int reads = 0;
    session.setSettingsSource([&] {
        ++reads;
        WatchSettings settings;
        settings.threshold = threshold;
        return settings;
    });
    QSignalSpy ticks(&session, &WatchSession::ticked);
    session.start(camera.get());
    QTRY_VERIFY(ticks.size() >= 1);
    threshold = 20;
    QTRY_VERIFY(ticks.size() >= 2);
    session.stop();
    QCOMPARE(reads, ticks.size());
    QVERIFY(ticks.at(1).at(0).value<TickResult>().alerting);
}

void TestWatchSession::eventEndsWhenTheCameraFallsSilent()
{
    queue(0xFF808080);
    queue(0xFF000000);
    WatchSession session;
    session.setSettingsSource([] {
        WatchSettings settings;
        settings.alerts.quietGapSeconds = 2; // twice the timer's second
        return settings;
    });
    QSignalSpy ticks(&session, &WatchSession::ticked);
    int started = 0, ended = 0;
    connect(&session, &WatchSession::eventStarted, this,
            [&](const WatchEvent &event) { started = event.number; });
    connect(&session, &WatchSession::eventEnded, this,
            [&](const WatchEvent &event) { ended = event.number; });
    session.start(camera.get());
    QTRY_VERIFY(started > 0);
    // No frame comes again: nothing but the timer is left to end the event.
    fakeEscapi_setStalled(0, 1);
    const int ticksBefore = ticks.size();
    QTRY_COMPARE_WITH_TIMEOUT(ended, started, 5000);
    QCOMPARE(ticks.size(), ticksBefore);
    QCOMPARE(session.state(), State::Watching);
}

QTEST_MAIN(TestWatchSession)
#include "tst_watchsession.moc"
