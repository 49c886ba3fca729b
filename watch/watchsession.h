#ifndef ORVELLA_WATCHSESSION_H
#define ORVELLA_WATCHSESSION_H

#include "cameraopener.h"
#include "framefeed.h"
#include "watchtick.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>

class Webcam;

// Watching one camera: opens it off the caller's thread, keeps its frames
// coming and runs each through the tick. The window, the tray, the command
// line and the settings follow its state instead of the window's widgets.
class WatchSession : public QObject
{
    Q_OBJECT
public:
    enum class State { Idle, Opening, Watching };
    Q_ENUM(State)

    explicit WatchSession(QObject *parent = nullptr);
    // Gives up an open under way and waits for the opening thread.
    ~WatchSession() override;

    // Where each tick reads its settings from, afresh for every frame.
    void setSettingsSource(std::function<WatchSettings()> source);

    // Starts watching camera, which must outlive the session's use of it:
    // the next frame only starts a new comparison. Opening follows, then
    // Watching once the camera is open, or openFailed() and Idle.
    void start(Webcam *camera);
    // Stops watching: an open under way is given up, an open camera closed.
    void stop();
    // Stops without closing anything and waits until no open is under way,
    // so the cameras can be released in the caller's own order.
    void shutDown();

    State state() const { return current; }
    bool isActive() const { return current != State::Idle; }
    // The camera being opened or watched; null while idle.
    Webcam *camera() const { return watched; }
    // The last comparison's difference image (see WatchTick::difference).
    const QImage &difference() const { return tick.difference(); }

    // The camera's painted areas (see WatchTick::setIgnoredArea), and the
    // places steady movement took out of the count.
    void setIgnoredArea(const QImage &mask) { tick.setIgnoredArea(mask); }
    const QImage &steadyArea() const { return tick.steadyArea(); }
    // Ends the open event, if any, with eventEnded(), as stopping does.
    void endEvent();

signals:
    void stateChanged(WatchSession::State state);
    // The camera could not be opened; the state turns Idle right after.
    void openFailed(Webcam *camera);
    // What the tick made of a frame.
    void ticked(const TickResult &result);
    void pictureLost(const QDateTime &lastPicture);
    void pictureBack();
    // Events: alerting ticks closer together than the quiet gap. Started
    // with its first alerting tick, updated when a tick raises its peak,
    // ended once the quiet gap has passed, or when watching stops. Times are
    // milliseconds since the epoch.
    void eventStarted(const WatchEvent &event);
    void eventUpdated(const WatchEvent &event);
    void eventEnded(const WatchEvent &event);

private:
    void opened(bool ok);
    void process(const QImage &frame);
    void setState(State state);
    void expireEvent();
    void reportEnded();

    CameraOpener opener;
    FrameFeed feed;
    WatchTick tick;
    std::function<WatchSettings()> settingsSource;
    // Ends an open event when no ticks come to do it.
    QTimer quietGapTimer;
    qint64 reportedPeakMs = 0;
    Webcam *watched = nullptr;
    State current = State::Idle;
};

#endif
