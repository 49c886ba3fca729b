#ifndef ORVELLA_CAPTURETRAY_H
#define ORVELLA_CAPTURETRAY_H

#include "watchsession.h"

#include <QIcon>
#include <QMenu>
#include <QObject>

class MainWindow;
class QAction;
class QSystemTrayIcon;

// The capture state as the system tray shows it: idle, watching, or watching
// with the last level at or over the threshold. It follows the window's watch
// session. The icon and its menu (Show
// or Hide the window, Enable or Disable as the window's button, Exit) exist
// only when the desktop has a tray; the state is followed either way. It must
// not outlive the window.
class CaptureTray : public QObject
{
    Q_OBJECT
public:
    enum class State { Idle, Watching, Alert };
    Q_ENUM(State)

    explicit CaptureTray(MainWindow &window);
    ~CaptureTray() override;

    State state() const { return current; }
    static QIcon icon(State state);
    // Whether the icon is in a tray, where a hidden window can be found again.
    bool isInTray() const { return trayIcon != nullptr; }
    QMenu &menu() { return trayMenu; }

signals:
    void stateChanged(CaptureTray::State state);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showTick(const TickResult &tick);
    void followSession(WatchSession::State state);
    void setState(State state);
    void toggleWindow();
    void updateMenu();

    MainWindow &window;
    WatchSession &session;
    QMenu trayMenu;
    QAction *showHideAction;
    QAction *captureAction;
    QSystemTrayIcon *trayIcon = nullptr;
    State current = State::Idle;
};

#endif
