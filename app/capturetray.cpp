#include "capturetray.h"

#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QSystemTrayIcon>

CaptureTray::CaptureTray(MainWindow &window) : window(window), session(window.watchSession())
{
    showHideAction = trayMenu.addAction("Hide", this, &CaptureTray::toggleWindow);
    captureAction = trayMenu.addAction("Enable", &window, &MainWindow::toggleCapture);
    trayMenu.addSeparator();
    trayMenu.addAction("Exit", &window, &QWidget::close);
    connect(&trayMenu, &QMenu::aboutToShow, this, &CaptureTray::updateMenu);

    connect(&session, &WatchSession::stateChanged, this, &CaptureTray::followSession);
    connect(&session, &WatchSession::ticked, this, &CaptureTray::showTick);
    window.installEventFilter(this);
    followSession(session.state());

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        trayIcon = new QSystemTrayIcon(icon(current), this);
        trayIcon->setToolTip(window.windowTitle());
        trayIcon->setContextMenu(&trayMenu);
        connect(trayIcon, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger)
                        toggleWindow();
                });
        trayIcon->show();
        // With the window hidden in the tray, closing a message box would
        // otherwise count as closing the last window and end the program;
        // closing the window itself still does (eventFilter).
        QApplication::setQuitOnLastWindowClosed(false);
    }
}

CaptureTray::~CaptureTray()
{
    if (trayIcon)
        QApplication::setQuitOnLastWindowClosed(true);
}

QIcon CaptureTray::icon(State state)
{
    switch (state) {
    case State::Watching:
        return QIcon(":/icons/icons/tray-watching.png");
    case State::Alert:
        return QIcon(":/icons/icons/tray-alert.png");
    default:
        return QIcon(":/icons/icons/tray-idle.png");
    }
}

bool CaptureTray::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &window && event->type() == QEvent::Close && trayIcon)
        QCoreApplication::quit();
    if (watched == &window && event->type() == QEvent::WindowTitleChange && trayIcon)
        trayIcon->setToolTip(window.windowTitle());
    return QObject::eventFilter(watched, event);
}

void CaptureTray::followSession(WatchSession::State state)
{
    if (state == WatchSession::State::Idle)
        setState(State::Idle);
    else if (current == State::Idle)
        setState(State::Watching);
}

void CaptureTray::showTick(const TickResult &tick)
{
    if (current == State::Idle || !tick.compared)
        return;
    setState(tick.alerting ? State::Alert : State::Watching);
}

void CaptureTray::setState(State state)
{
    if (state == current)
        return;
    current = state;
    if (trayIcon)
        trayIcon->setIcon(icon(state));
    emit stateChanged(state);
}

void CaptureTray::toggleWindow()
{
    if (window.isVisible() && !window.isMinimized()) {
        window.hide();
        return;
    }
    window.showNormal();
    window.raise();
    window.activateWindow();
}

void CaptureTray::updateMenu()
{
    showHideAction->setText(window.isVisible() && !window.isMinimized() ? "Hide" : "Show");
    captureAction->setText(session.isActive() ? "Disable" : "Enable");
}
