#include "watchsession.h"

#include "webcam.h"

WatchSession::WatchSession(QObject *parent) : QObject(parent)
{
    settingsSource = [] { return WatchSettings(); };
    connect(&opener, &CameraOpener::opened, this, &WatchSession::opened);
    connect(&feed, &FrameFeed::frameArrived, this, &WatchSession::process);
    connect(&feed, &FrameFeed::pictureLost, this, &WatchSession::pictureLost);
    connect(&feed, &FrameFeed::pictureBack, this, [this] {
        // Its first frames back start no event.
        tick.cameraBack();
        emit pictureBack();
    });
    // Ticks end events themselves; the timer only runs out when none came
    // for a second, so that it never wakes the thread between frames.
    quietGapTimer.setInterval(1000);
    quietGapTimer.setSingleShot(true);
    connect(&quietGapTimer, &QTimer::timeout, this, &WatchSession::expireEvent);
}

WatchSession::~WatchSession()
{
    shutDown();
}

void WatchSession::setSettingsSource(std::function<WatchSettings()> source)
{
    settingsSource = std::move(source);
}

void WatchSession::start(Webcam *camera)
{
    stop();
    watched = camera;
    // The first frame of every run only starts a comparison.
    tick.restart();
    setState(State::Opening);
    opener.open(camera);
}

void WatchSession::stop()
{
    if (current == State::Idle)
        return;
    endEvent();
    feed.stop();
    if (opener.isOpening())
        opener.cancel();
    else
        watched->close();
    watched = nullptr;
    setState(State::Idle);
}

void WatchSession::shutDown()
{
    quietGapTimer.stop();
    feed.stop();
    // An open still under way must be over before its camera goes.
    opener.cancel();
    opener.waitForWorker();
    watched = nullptr;
    current = State::Idle;
}

void WatchSession::opened(bool ok)
{
    if (ok) {
        feed.start(watched);
        setState(State::Watching);
        return;
    }
    // The report may run a nested event loop, in which the session can be
    // stopped or started again; only an unchanged session turns idle after.
    Webcam *failed = watched;
    emit openFailed(failed);
    if (current == State::Opening && watched == failed && !opener.isOpening()) {
        watched = nullptr;
        setState(State::Idle);
    }
}

void WatchSession::process(const QImage &frame)
{
    const TickResult result = tick.process(frame, settingsSource());
    if (result.eventEnded)
        reportEnded();
    emit ticked(result);
    const WatchEvent &event = tick.events().current();
    if (tick.events().isOpen())
        quietGapTimer.start();
    if (result.eventStarted) {
        reportedPeakMs = event.peakMs;
        emit eventStarted(event);
    } else if (tick.events().isOpen() && event.peakMs != reportedPeakMs) {
        reportedPeakMs = event.peakMs;
        emit eventUpdated(event);
    }
}

void WatchSession::endEvent()
{
    if (tick.finishEvent())
        reportEnded();
}

void WatchSession::expireEvent()
{
    if (tick.expireEvent(QDateTime::currentMSecsSinceEpoch()))
        reportEnded();
    else if (tick.events().isOpen())
        quietGapTimer.start();
}

void WatchSession::reportEnded()
{
    quietGapTimer.stop();
    emit eventEnded(tick.events().lastEnded());
}

void WatchSession::setState(State state)
{
    if (state == current)
        return;
    current = state;
    emit stateChanged(state);
}
