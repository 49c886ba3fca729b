#include "framefeed.h"

#include "webcam.h"

FrameFeed::FrameFeed(QObject *parent) : QObject(parent)
{
    captureTimer.setInterval(captureIntervalMs);
    pollTimer.setInterval(pollIntervalMs);
    pollTimer.setTimerType(Qt::PreciseTimer);
    lostTimer.setInterval(lostAfterMs);
    lostTimer.setSingleShot(true);
    connect(&captureTimer, &QTimer::timeout, this, &FrameFeed::requestFrame);
    connect(&pollTimer, &QTimer::timeout, this, &FrameFeed::pollFrame);
    connect(&lostTimer, &QTimer::timeout, this, &FrameFeed::reportLost);
}

void FrameFeed::start(Webcam *camera)
{
    stop();
    this->camera = camera;
    captureTimer.start();
}

void FrameFeed::stop()
{
    captureTimer.stop();
    pollTimer.stop();
    lostTimer.stop();
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
    pollFrame();
}

void FrameFeed::pollFrame()
{
    if (!camera->takeFrame()) {
        if (!pollTimer.isActive())
            pollTimer.start();
        return;
    }
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
