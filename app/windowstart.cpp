#include "windowstart.h"

#include "capturetray.h"
#include "mainwindow.h"

#include <QComboBox>
#include <QMetaObject>
#include <QStatusBar>

void startWindow(MainWindow &window, const CaptureTray &tray, const StartOptions &options)
{
    if (!options.camera.isEmpty())
        selectCamera(window, options.camera);

    if (!options.minimized)
        window.show();
    else if (!tray.isInTray())
        window.showMinimized();

    // Queued, so the press comes from the running event loop like a user's.
    if (options.watch)
        QMetaObject::invokeMethod(&window, &MainWindow::toggleCapture, Qt::QueuedConnection);
}

bool selectCamera(MainWindow &window, const QString &name)
{
    if (window.selectCamera(name))
        return true;
    auto *cameras = window.findChild<QComboBox *>("camCombo");
    QString text = "No camera is named \"" + name + "\"";
    if (cameras->count() > 0)
        text += "; using \"" + cameras->currentText() + "\"";
    appendStatusMessage(window, text + ".");
    return false;
}

void appendStatusMessage(QMainWindow &window, const QString &text)
{
    const QString shown = window.statusBar()->currentMessage();
    window.statusBar()->showMessage(shown.isEmpty() ? text : shown + " " + text);
}
