#include "windowstart.h"

#include "capturetray.h"

#include <QComboBox>
#include <QMainWindow>
#include <QMetaObject>
#include <QPushButton>
#include <QStatusBar>

void startWindow(QMainWindow &window, const CaptureTray &tray, const StartOptions &options)
{
    if (!options.camera.isEmpty())
        selectCamera(window, options.camera);

    if (!options.minimized)
        window.show();
    else if (!tray.isInTray())
        window.showMinimized();

    // Queued, so the press comes from the running event loop like a user's.
    if (options.watch)
        QMetaObject::invokeMethod(window.findChild<QPushButton *>("cmdBeginCapture"), "click",
                                  Qt::QueuedConnection);
}

bool selectCamera(QMainWindow &window, const QString &name)
{
    auto *cameras = window.findChild<QComboBox *>("camCombo");
    const int index = cameras->findText(name, Qt::MatchExactly);
    if (index >= 0) {
        cameras->setCurrentIndex(index);
        return true;
    }
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
