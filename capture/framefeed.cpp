#include "framefeed.h"

#include "webcam.h"

#include <algorithm>

FrameFeed::FrameFeed(QObject *parent) : QObject(parent)
{
    captureTimer.setSingleShot(true);
    captureTimer.setTimerType(Qt::PreciseTimer);
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
    lead.reset();
    running.start();
    nextTickMs = captureIntervalMs;
    scheduleRequest();
}

void FrameFeed::stop()
{
    captureTimer.stop();
    pollTimer.stop();
    lostTimer.stop();
    requestAge.invalidate();
    lastPicture = QDateTime();
    lost = false;
    tickWaiting = false;
    camera = nullptr;
}

void FrameFeed::scheduleRequest()
{
    captureTimer.start(int(std::max<qint64>(0, nextTickMs - lead.ms() - running.elapsed())));
}

void FrameFeed::requestFrame()
{
    // A late tick delays the next one; missed ones are not made up.
    const qint64 now = running.elapsed();
    nextTickMs = std::max(nextTickMs + captureIntervalMs,
                          now + captureIntervalMs - RequestLead::stepMs + lead.ms());
    scheduleRequest();

    // A slow or quiet camera keeps its request until it is given up; the
    // tick then runs late, as soon as the frame is in.
    if (requestAge.isValid() && requestAge.elapsed() < lostAfterMs) {
        tickWaiting = true;
        return;
    }
    tickWaiting = false;
    camera->requestFrame();
    requestAge.start();
    if (!lastPicture.isValid()) {
        lastPicture = QDateTime::currentDateTime();
        lostTimer.start();
    }
    pollFrame(true);
}

void FrameFeed::pollFrame(bool justAsked)
{
    if (!camera->takeFrame()) {
        if (!pollTimer.isActive())
            pollTimer.start();
        return;
    }
    pollTimer.stop();
    lead.frameTaken(justAsked ? 0 : int(std::max<qint64>(1, requestAge.elapsed())));
    scheduleRequest();
    requestAge.invalidate();
    lastPicture = QDateTime::currentDateTime();
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
    emit pictureLost(lastPicture);
}
