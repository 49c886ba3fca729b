// The capture library's C interface: the record handed to initCapture, the
// eight entry points the program binds by name at run time, and the optional
// ones it binds when a library has them.
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

// Optional: a library without them is used just the same.
//
// The device's last failure as one line of UTF-8 text (why it did not
// start, or why it stopped while running), empty while it is well: written
// into buffer, cut to length - 1 bytes at a character boundary and ended by
// a zero byte (nothing is written when length is 0). Returns the length in
// bytes of the whole text, so a result >= length means it was cut.
ESCAPI_EXPORT int getCaptureErrorText(int deviceno, char *buffer, int length);
// A file descriptor that is readable exactly while isCaptureDone(deviceno)
// would return nonzero, so a caller can sleep until the frame it asked for
// is in (poll, select, a socket notifier). It belongs to the library, stays
// the same for the life of the process and is only ever waited on; -1 when
// the device does not exist.
ESCAPI_EXPORT int getCaptureDoneDescriptor(int deviceno);
// Frames of the open device go into buffer from the next one written on,
// instead of into the buffer of the record given to initCapture; buffer
// holds as many words as that one, and the buffer before it is never written
// again. So a caller can hand each frame on without copying it and give the
// library other memory for the next. initCapture starts again with the
// record's buffer. Returns nonzero when the device is open and took buffer.
ESCAPI_EXPORT int setCaptureBuffer(int deviceno, unsigned int *buffer);

typedef int (*countCaptureDevicesProc)(void);
typedef int (*initCaptureProc)(int, struct SimpleCapParams *);
typedef void (*deinitCaptureProc)(int);
typedef void (*doCaptureProc)(int);
typedef int (*isCaptureDoneProc)(int);
typedef void (*initCOMProc)(void);
typedef void (*getCaptureDeviceNameProc)(int, char *, int);
typedef int (*ESCAPIDLLVersionProc)(void);
typedef int (*getCaptureErrorTextProc)(int, char *, int);
typedef int (*getCaptureDoneDescriptorProc)(int);
typedef int (*setCaptureBufferProc)(int, unsigned int *);

#ifdef __cplusplus
}
#endif

#endif
