#include "commandline.h"

#include "capturelibrary.h"
#include "orvellaversion.h"
#include "webcam.h"

#include <QCoreApplication>
#include <QTextStream>

namespace
{

// Loads the capture library and writes the name of each of its cameras, one
// a line; false, with nothing written, when the library cannot be used.
bool writeCameraNames(QTextStream &out)
{
    const int count = setupCaptureLibrary();
    // A device count of 0 also stands for a library that failed to bind.
    const CaptureLibraryTable &library = captureLibrary();
    const bool bound = library.countCaptureDevices && library.initCapture &&
                       library.deinitCapture && library.doCapture && library.isCaptureDone &&
                       library.initCOM && library.getCaptureDeviceName && library.ESCAPIDLLVersion;
    if (!bound || library.ESCAPIDLLVersion() != ESCAPI_REQUIRED_VERSION)
        return false;
    for (int i = 0; i < count; ++i) {
        char name[512];
        library.getCaptureDeviceName(i, name, sizeof name);
        out << deviceNameFromBuffer(name, sizeof name) << "\n";
    }
    return true;
}

} // namespace

CommandLine::CommandLine()
    : camera("camera", "Select the camera with this name.", "name"),
      watch("watch", "Start watching as soon as the window is up, as Enable does."),
      minimized("minimized", "Start in the system tray, or minimized when there is none."),
      listCameras("list-cameras", "Print the name of each camera and exit."),
      version("version", "Print the version and exit.")
{
    parser.setApplicationDescription("Watches a room through a webcam and raises alerts when "
                                     "the picture changes.");
    parser.addHelpOption();
    parser.addOptions({camera, watch, minimized, listCameras, version});
}

bool CommandLine::parse(const QStringList &arguments)
{
    return parser.parse(arguments);
}

void CommandLine::process(const QCoreApplication &app)
{
    parser.process(app);
}

bool CommandLine::isConsoleRequest() const
{
    return parser.isSet("help") || parser.isSet(version) || parser.isSet(listCameras);
}

int CommandLine::runConsoleRequest()
{
    if (parser.isSet("help"))
        parser.showHelp(0);
    QTextStream out(stdout);
    if (parser.isSet(version)) {
        out << "orvella " << ORVELLA_VERSION << "\n";
        return 0;
    }
    if (writeCameraNames(out))
        return 0;
    QTextStream(stderr) << "orvella: the capture library libescapi.so could not be loaded\n";
    return 1;
}

StartOptions CommandLine::startOptions() const
{
    StartOptions options;
    options.camera = parser.value(camera);
    options.watch = parser.isSet(watch);
    options.minimized = parser.isSet(minimized);
    return options;
}

QStringList argumentList(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}
