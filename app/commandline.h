#ifndef ORVELLA_COMMANDLINE_H
#define ORVELLA_COMMANDLINE_H

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

class QCoreApplication;

// What the command line asks of the window at start.
struct StartOptions {
    QString camera; // empty: the remembered camera
    bool watch = false;
    bool minimized = false;
};

// The program's options. Requests that only print something (--help,
// --version, --list-cameras) can be told apart before the window system is
// set up, so they also answer without a display.
class CommandLine
{
public:
    CommandLine();

    // Parses raw arguments (the program name first); false on an error,
    // which includes the toolkit's own options.
    bool parse(const QStringList &arguments);
    // Parses the application's arguments, once the toolkit has taken its own
    // options out; on an error or --help it prints and ends the process.
    void process(const QCoreApplication &app);

    // Whether the parsed arguments only ask for printed output.
    bool isConsoleRequest() const;
    // Prints what a console request asks for and returns the exit code.
    int runConsoleRequest();

    StartOptions startOptions() const;

private:
    QCommandLineParser parser;
    QCommandLineOption camera;
    QCommandLineOption watch;
    QCommandLineOption minimized;
    QCommandLineOption listCameras;
    QCommandLineOption version;
};

// The program's arguments as the toolkit decodes them.
QStringList argumentList(int argc, char *argv[]);

#endif
