// The capture library's C interface: the record handed to initCapture and the
// eight entry points the program binds by name at run time.
#ifndef ORVELLA_ESCAPI_H
#define ORVELLA_ESCAPI_H

#ifdef __cplusplus
extern "C" {
#endif

struct SimpleCapParams {
    // width * height words, rows top to bottom; each word reads 0xAARRGGBB.
    unsigned int *buffer;
    int width;
    int height;
};

#if defined(_WIN32)
#define ESCAPI_EXPORT __declspec(dllexport)
#else
#define ESCAPI_EXPORT __attribute__((visibility("default")))
#endif

// The version the program requires of ESCAPIDLLVersion().
#define ESCAPI_REQUIRED_VERSION 0x200

ESCAPI_EXPORT int countCaptureDevices(void);
ESCAPI_EXPORT int initCapture(int deviceno, struct SimpleCapParams *aParams);
ESCAPI_EXPORT void deinitCapture(int deviceno);
ESCAPI_EXPORT void doCapture(int deviceno);
ESCAPI_EXPORT int isCaptureDone(int deviceno);
ESCAPI_EXPORT void initCOM(void);
ESCAPI_EXPORT void getCaptureDeviceName(int deviceno, char *namebuffer, int bufferlength);
ESCAPI_EXPORT int ESCAPIDLLVersion(void);

typedef int (*countCaptureDevicesProc)(void);
typedef int (*initCaptureProc)(int, struct SimpleCapParams *);
typedef void (*deinitCaptureProc)(int);
typedef void (*doCaptureProc)(int);
typedef int (*isCaptureDoneProc)(int);
typedef void (*initCOMProc)(void);
typedef void (*getCaptureDeviceNameProc)(int, char *, int);
typedef int (*ESCAPIDLLVersionProc)(void);

#ifdef __cplusplus
}
#endif

#endif
