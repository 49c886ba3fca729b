#include "capturelibrary.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

CaptureLibraryTable table;

template <typename Proc> void bind(Proc &entry, void *address)
{
    entry = reinterpret_cast<Proc>(address);
}

} // namespace

const CaptureLibraryTable &captureLibrary()
{
    return table;
}

int setupCaptureLibrary()
{
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
    void *library = dlopen("libescapi.so", RTLD_NOW | RTLD_LOCAL);
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

    if (!table.countCaptureDevices || !table.initCapture || !table.deinitCapture ||
        !table.doCapture || !table.isCaptureDone || !table.initCOM ||
        !table.getCaptureDeviceName || !table.ESCAPIDLLVersion)
        return 0;

    if (table.ESCAPIDLLVersion() != ESCAPI_REQUIRED_VERSION)
        return 0;

    table.initCOM();
    return table.countCaptureDevices();
}
