#ifndef ORVELLA_WINDOWSTART_H
#define ORVELLA_WINDOWSTART_H

#include "commandline.h"

class CaptureTray;
class MainWindow;
class QMainWindow;

// Applies the command line to the set-up window: selects the camera, shows
// the window (or leaves it to the tray, or minimized) and, for --watch,
// presses Enable once the event loop runs.
void startWindow(MainWindow &window, const CaptureTray &tray, const StartOptions &options);

// Selects the camera with this name; otherwise the selection stays and the
// status bar says so. Returns whether the camera was found.
bool selectCamera(MainWindow &window, const QString &name);

// Shows text in the status bar until the next message, after any start-up
// message already there.
void appendStatusMessage(QMainWindow &window, const QString &text);

#endif
