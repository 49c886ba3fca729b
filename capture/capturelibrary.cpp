#include "capturelibrary.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <QCoreApplication>
#include <QFile>
#include <dlfcn.h>
#endif

namespace
{

CaptureLibraryTable table;
bool usable = false;

#ifndef _WIN32
// The program's RUNPATH finds the library beside it, or in its private
// folder once installed. A loader that does not apply the RUNPATH (a
// sanitizer's dlopen interceptor loads on its own behalf) is pointed at
// the same two places by path.
void *openCaptureLibrary()
{
    const char *name = "libescapi.so";
    if (void *library = dlopen(name, RTLD_NOW | RTLD_LOCAL))
        return library;
    if (!QCoreApplication::instance())
        return nullptr;
    const QString programDir = QCoreApplication::applicationDirPath();
    for (const QString &dir :
         {programDir, programDir + "/" + QStringLiteral(ORVELLA_CAPTURE_LIBRARY_FROM_BIN)}) {
        const QByteArray path = QFile::encodeName(dir + "/" + name);
        if (void *library = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL))
            return library;
    }
    return nullptr;
}
#endif

template <typename Proc> void bind(Proc &entry, void *address)
{
    entry = reinterpret_cast<Proc>(address);
}

} // namespace

const CaptureLibraryTable &captureLibrary()
{
    return table;
}

bool captureLibraryUsable()
{
    return usable;
}

int setupCaptureLibrary()
{
    usable = false;
    // Loaded again on every run and never unloaded: a repeated load only adds
    // a reference in the loader.
#ifdef _WIN32
    HMODULE library = LoadLibraryW(L"escapi.dll");
    if (!library)
        return 0;
    auto lookup = [library](const char *name) {
        return reinterpret_cast<void *>(GetProcAddress(library, name));
    };
#else
    void *library = openCaptureLibrary();
    if (!library)
        return 0;
    auto lookup = [library](const char *name) { return dlsym(library, name); };
#endif

    bind(table.countCaptureDevices, lookup("countCaptureDevices"));
    bind(table.initCapture, lookup("initCapture"));
    bind(table.deinitCapture, lookup("deinitCapture"));
    bind(table.doCapture, lookup("doCapture"));
    bind(table.isCaptureDone, lookup("isCaptureDone"));
    bind(table.initCOM, lookup("initCOM"));
    bind(table.getCaptureDeviceName, lookup("getCaptureDeviceName"));
    bind(table.ESCAPIDLLVersion, lookup("ESCAPIDLLVersion"));
    bind(table.getCaptureErrorText, lookup("getCaptureErrorText"));
    bind(table.getCaptureDoneDescriptor, lookup("getCaptureDoneDescriptor"));
    bind(table.setCaptureBuffer, lookup("setCaptureBuffer"));
    bind(table.setEventClipPreroll, lookup("setEventClipPreroll"));
    bind(table.startEventClip, lookup("startEventClip"));
    bind(table.stopEventClip, lookup("stopEventClip"));
    bind(table.getEventClipStatus, lookup("getEventClipStatus"));
    bind(table.takeEventClipReport, lookup("takeEventClipReport"));

    if (!table.countCaptureDevices || !table.initCapture || !table.deinitCapture ||
        !table.doCapture || !table.isCaptureDone || !table.initCOM || !table.getCaptureDeviceName ||
        !table.ESCAPIDLLVersion)
        return 0;

    if (table.ESCAPIDLLVersion() != ESCAPI_REQUIRED_VERSION)
        return 0;

    usable = true;
    table.initCOM();
    return table.countCaptureDevices();
}
