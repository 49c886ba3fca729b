#ifndef ORVELLA_FRAMEFEED_H
#define ORVELLA_FRAMEFEED_H

#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QSocketNotifier;
class Webcam;

// Keeps frames coming from an open camera without ever waiting for one: on
// every tick of captureTimer it asks for a frame and hands it on as soon as
// it is in. It learns that from the library's frame-done descriptor where
// the library has one, and otherwise polls on a short timer. Only one
// request is open at a time: a tick that comes meanwhile runs once the frame
// is in, and a request that brings no frame within a second is given up, so
// the next tick asks again. A camera that sends nothing for a second is
// reported lost, and back again with its next frame.
//
// A frame that comes after its tick moves the ticks that follow: the next
// one comes an interval and phaseMarginMs after that frame. A camera sending
// at the tick rate then has its next frame in by the time the tick asks, and
// the thread wakes once a frame instead of twice.
class FrameFeed : public QObject
{
    Q_OBJECT
public:
    static const int captureIntervalMs = 100;
    // Only without a frame-done descriptor.
    static const int pollIntervalMs = 5;
    static const int lostAfterMs = 1000;
    // Room for a camera's frames coming a little late, or decoding slowly.
    static const int phaseMarginMs = 25;

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
    void tick();
    void requestFrame();
    void frameSignalled();
    // Hands the frame on if it is in; otherwise waits on the descriptor
    // (where there is one and listen is set) or the poll timer.
    void pollFrame(bool listen);
    void reportLost();

    Webcam *camera = nullptr;
    QTimer captureTimer;
    QTimer pollTimer;
    // On the camera's frame-done descriptor, enabled while a request is open.
    QPointer<QSocketNotifier> doneNotifier;
    QTimer lostTimer;
    QElapsedTimer requestAge; // invalid while no request is open
    // Milliseconds since the epoch, 0 before the first request: kept as a
    // number so a frame costs no time-zone lookup.
    qint64 lastPictureMs = 0;
    bool lost = false;
    bool tickWaiting = false; // a tick came while the request was open
    bool frameLate = false;   // the open request's frame was not in when asked for
    bool rephased = false;    // the timer runs the margin longer once
    static const int maxEmptyWakeUps = 3;
    int emptyWakeUps = 0; // of the open request, by the descriptor
};

#endif
