#ifndef ORVELLA_FRAMEFEED_H
#define ORVELLA_FRAMEFEED_H

#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QTimer>

class Webcam;

// Keeps frames coming from an open camera without ever waiting for one: on
// every tick of captureTimer it asks for a frame, then polls for it on a
// short timer and hands it on as soon as it is in. Only one request is open
// at a time: a tick that comes meanwhile runs once the frame is in, and a
// request that brings no frame within a second is given up, so the next tick
// asks again. A camera that sends nothing for a second is reported
// lost, and back again with its next frame.
class FrameFeed : public QObject
{
    Q_OBJECT
public:
    static const int captureIntervalMs = 100;
    static const int pollIntervalMs = 5;
    static const int lostAfterMs = 1000;

    explicit FrameFeed(QObject *parent = nullptr);

    // Starts asking camera, which must be open and outlive the feed's run.
    void start(Webcam *camera);
    // Stops at once, an open request included; nothing more is reported.
    void stop();
    bool isRunning() const { return camera != nullptr; }

signals:
    // The camera's frame, read out of its buffer.
    void frameArrived(const QImage &frame);
    // Nothing came for lostAfterMs since lastPicture: the last frame, or the
    // first request when no frame came at all.
    void pictureLost(const QDateTime &lastPicture);
    void pictureBack();

private:
    void requestFrame();
    void pollFrame();
    void reportLost();

    Webcam *camera = nullptr;
    QTimer captureTimer;
    QTimer pollTimer;
    QTimer lostTimer;
    QElapsedTimer requestAge; // invalid while no request is open
    // Milliseconds since the epoch, 0 before the first request: kept as a
    // number so a frame costs no time-zone lookup.
    qint64 lastPictureMs = 0;
    bool lost = false;
    bool tickWaiting = false; // a tick came while the request was open
};

#endif
