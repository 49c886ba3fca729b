#include "watchsession.h"

#include "webcam.h"

WatchSession::WatchSession(QObject *parent) : QObject(parent)
{
    settingsSource = [] { return WatchSettings(); };
    connect(&opener, &CameraOpener::opened, this, &WatchSession::opened);
    connect(&feed, &FrameFeed::frameArrived, this, &WatchSession::process);
    connect(&feed, &FrameFeed::pictureLost, this, &WatchSession::pictureLost);
    connect(&feed, &FrameFeed::pictureBack, this, &WatchSession::pictureBack);
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
    emit ticked(tick.process(frame, settingsSource()));
}

void WatchSession::setState(State state)
{
    if (state == current)
        return;
    current = state;
    emit stateChanged(state);
}
