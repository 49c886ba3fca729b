#ifndef ORVELLA_WATCHSESSION_H
#define ORVELLA_WATCHSESSION_H

#include "cameraopener.h"
#include "framefeed.h"
#include "watchtick.h"

#include <QDateTime>
#include <QObject>

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

signals:
    void stateChanged(WatchSession::State state);
    // The camera could not be opened; the state turns Idle right after.
    void openFailed(Webcam *camera);
    // What the tick made of a frame.
    void ticked(const TickResult &result);
    void pictureLost(const QDateTime &lastPicture);
    void pictureBack();

private:
    void opened(bool ok);
    void process(const QImage &frame);
    void setState(State state);

    CameraOpener opener;
    FrameFeed feed;
    WatchTick tick;
    std::function<WatchSettings()> settingsSource;
    Webcam *watched = nullptr;
    State current = State::Idle;
};

#endif
