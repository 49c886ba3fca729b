#include "batchscheduling.h"
#include "capturetray.h"
#include "commandline.h"
#include "mainwindow.h"
#include "windowsettings.h"
#include "windowstart.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // Before any thread starts, so that every one runs as batch work.
    runAsBatchWork();

    // Printing requests and scans are answered before the window system is
    // needed; so is a scan's bad option.
    CommandLine commandLine;
    const bool parsed = commandLine.parse(argumentList(argc, argv));
    if (parsed ? commandLine.isConsoleRequest() : commandLine.isScanRequest()) {
        QCoreApplication app(argc, argv);
        if (!parsed)
            commandLine.process(app);
        return commandLine.runConsoleRequest();
    }

    QApplication app(argc, argv);
    commandLine.process(app);
    if (commandLine.isConsoleRequest())
        return commandLine.runConsoleRequest();

    MainWindow window;
    WindowSettings settings(window);
    CaptureTray tray(window);
    startWindow(window, tray, commandLine.startOptions());
    return app.exec();
}
