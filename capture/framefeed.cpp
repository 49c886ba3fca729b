#include "framefeed.h"

#include "webcam.h"

#include <QSocketNotifier>

FrameFeed::FrameFeed(QObject *parent) : QObject(parent)
{
    captureTimer.setInterval(captureIntervalMs);
    pollTimer.setInterval(pollIntervalMs);
    pollTimer.setTimerType(Qt::PreciseTimer);
    lostTimer.setInterval(lostAfterMs);
    lostTimer.setSingleShot(true);
    connect(&captureTimer, &QTimer::timeout, this, &FrameFeed::requestFrame);
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

void FrameFeed::requestFrame()
{
    // A slow or quiet camera keeps its request until it is given up; the
    // tick then runs late, as soon as the frame is in.
    if (requestAge.isValid() && requestAge.elapsed() < lostAfterMs) {
        tickWaiting = true;
        return;
    }
    tickWaiting = false;
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
    // Readable means done. Should the library say otherwise, it is asked on
    // the timer, rather than wake this thread again at once.
    pollFrame(false);
}

void FrameFeed::pollFrame(bool listen)
{
    if (!camera->takeFrame()) {
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
