#ifndef ORVELLA_CAPTURELIBRARY_H
#define ORVELLA_CAPTURELIBRARY_H

#include "escapi.h"
#include "escapiclips.h"

// The capture library's entry points, bound by name at run time. All null
// until the first setupCaptureLibrary(); each run that loads the library
// overwrites all eight, and the optional ones after them.
struct CaptureLibraryTable {
    countCaptureDevicesProc countCaptureDevices = nullptr;
    initCaptureProc initCapture = nullptr;
    deinitCaptureProc deinitCapture = nullptr;
    doCaptureProc doCapture = nullptr;
    isCaptureDoneProc isCaptureDone = nullptr;
    initCOMProc initCOM = nullptr;
    getCaptureDeviceNameProc getCaptureDeviceName = nullptr;
    ESCAPIDLLVersionProc ESCAPIDLLVersion = nullptr;

    // Optional: null when the library does not have them, and the program
    // then works as it does without them. Their presence has no say in
    // whether the library is usable.
    getCaptureErrorTextProc getCaptureErrorText = nullptr;
    getCaptureDoneDescriptorProc getCaptureDoneDescriptor = nullptr;
    setCaptureBufferProc setCaptureBuffer = nullptr;
    // Event clips (escapiclips.h): all five, or the program offers no clips.
    setEventClipPrerollProc setEventClipPreroll = nullptr;
    startEventClipProc startEventClip = nullptr;
    stopEventClipProc stopEventClip = nullptr;
    getEventClipStatusProc getEventClipStatus = nullptr;
    takeEventClipReportProc takeEventClipReport = nullptr;

    bool hasEventClips() const
    {
        return setEventClipPreroll && startEventClip && stopEventClip && getEventClipStatus &&
               takeEventClipReport;
    }
};

// The process-wide table. Only setupCaptureLibrary() writes it.
const CaptureLibraryTable &captureLibrary();

// Loads the capture library (libescapi.so through the dynamic loader's
// default search, escapi.dll on Windows), binds its entry points, checks the
// interface version and initialises it. Returns the number of capture
// devices, or 0 when the library is missing, incomplete or of another version.
int setupCaptureLibrary();

// Whether the last setupCaptureLibrary() found a usable library: the count
// it returned is 0 for a library that is missing or unusable as well as for
// one without cameras.
bool captureLibraryUsable();

#endif
