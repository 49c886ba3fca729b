#include "framefeed.h"

#include "webcam.h"

#include <QSocketNotifier>

FrameFeed::FrameFeed(QObject *parent) : QObject(parent)
{
    captureTimer.setInterval(captureIntervalMs);
    // A coarse timer may fire early by a few percent, into the margin.
    captureTimer.setTimerType(Qt::PreciseTimer);
    pollTimer.setInterval(pollIntervalMs);
    pollTimer.setTimerType(Qt::PreciseTimer);
    lostTimer.setInterval(lostAfterMs);
    lostTimer.setSingleShot(true);
    connect(&captureTimer, &QTimer::timeout, this, &FrameFeed::tick);
    connect(&pollTimer, &QTimer::timeout, this, [this] { pollFrame(false); });
    connect(&lostTimer, &QTimer::timeout, this, &FrameFeed::reportLost);
}

void FrameFeed::start(Webcam *camera)
{
    stop();
    this->camera = camera;
    const int descriptor = camera->frameDoneDescriptor();
    if (descriptor >= 0) {
        doneNotifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
        doneNotifier->setEnabled(false);
        connect(doneNotifier, &QSocketNotifier::activated, this, &FrameFeed::frameSignalled);
    }
    captureTimer.start();
}

void FrameFeed::stop()
{
    captureTimer.stop();
    captureTimer.setInterval(captureIntervalMs);
    rephased = false;
    pollTimer.stop();
    lostTimer.stop();
    if (doneNotifier) {
        // It may be the one whose signal is being handled.
        doneNotifier->setEnabled(false);
        doneNotifier->deleteLater();
        doneNotifier = nullptr;
    }
    requestAge.invalidate();
    lastPictureMs = 0;
    lost = false;
    tickWaiting = false;
    camera = nullptr;
}

void FrameFeed::tick()
{
    if (rephased) {
        rephased = false;
        // Restarts the timer from now, in its new phase.
        captureTimer.setInterval(captureIntervalMs);
    }
    requestFrame();
}

void FrameFeed::requestFrame()
{
    // A slow or quiet camera keeps its request until it is given up; the
    // tick then runs late, as soon as the frame is in.
    if (requestAge.isValid() && requestAge.elapsed() < lostAfterMs) {
        tickWaiting = true;
        return;
    }
    tickWaiting = false;
    frameLate = false;
    emptyWakeUps = 0;
    camera->requestFrame();
    requestAge.start();
    if (lastPictureMs == 0) {
        lastPictureMs = QDateTime::currentMSecsSinceEpoch();
        lostTimer.start();
    }
    pollFrame(true);
}

void FrameFeed::frameSignalled()
{
    if (!camera || !doneNotifier)
        return;
    doneNotifier->setEnabled(false);
    // Readable means done, but the wake-up may be older than a request made
    // since in the same turn of the event loop: then the descriptor is
    // waited on again. A library whose descriptor stays readable without a
    // frame would wake this thread again at once, so after a few such
    // wake-ups the request is finished on the timer.
    pollFrame(++emptyWakeUps < maxEmptyWakeUps);
}

void FrameFeed::pollFrame(bool listen)
{
    if (!camera->takeFrame()) {
        frameLate = true;
        // The descriptor stays readable until the next request, so it is
        // listened to only while one is open.
        if (doneNotifier && listen)
            doneNotifier->setEnabled(true);
        else if (!pollTimer.isActive())
            pollTimer.start();
        return;
    }
    if (doneNotifier)
        doneNotifier->setEnabled(false);
    pollTimer.stop();
    requestAge.invalidate();
    if (frameLate && !tickWaiting) {
        captureTimer.start(captureIntervalMs + phaseMarginMs);
        rephased = true;
    }
    lastPictureMs = QDateTime::currentMSecsSinceEpoch();
    lostTimer.start();
    if (lost) {
        lost = false;
        emit pictureBack();
        if (!camera) // stopped by a receiver
            return;
    }
    emit frameArrived(camera->image);
    if (camera && tickWaiting)
        requestFrame();
}

void FrameFeed::reportLost()
{
    lost = true;
    emit pictureLost(QDateTime::fromMSecsSinceEpoch(lastPictureMs));
}
