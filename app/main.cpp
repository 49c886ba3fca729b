#include "capturetray.h"
#include "commandline.h"
#include "mainwindow.h"
#include "windowsettings.h"
#include "windowstart.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // Printing requests are answered before the window system is needed.
    CommandLine commandLine;
    if (commandLine.parse(argumentList(argc, argv)) && commandLine.isConsoleRequest()) {
        QCoreApplication app(argc, argv);
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
