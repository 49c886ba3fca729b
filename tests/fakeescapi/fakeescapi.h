#ifndef ORVELLA_FAKEESCAPI_H
#define ORVELLA_FAKEESCAPI_H

// Control side of the test double for the capture library. The double exports
// the same eight entry points; tests script devices, frames and failures here
// and read back every call it received.

#ifdef __cplusplus
extern "C" {
#endif

// Back to defaults: loadable, version 0x200, no devices, nothing missing,
// every initCapture succeeds, no frames queued, counts and log cleared.
void fakeEscapi_reset(void);

void fakeEscapi_setDeviceCount(int count);
// Raw name bytes (up to 512) that getCaptureDeviceName copies out as they are.
void fakeEscapi_setDeviceName(int device, const char *bytes, int length);
void fakeEscapi_setVersion(int version);
void fakeEscapi_setInitResult(int device, int result);

// Whether dlopen of the library succeeds, and which entry points dlsym does
// not find; answered by the loader hooks linked into the test program.
void fakeEscapi_setLoadable(int loadable);
int fakeEscapi_isLoadable(void);
void fakeEscapi_setMissing(const char *entryPoint);
int fakeEscapi_isMissing(const char *entryPoint);
void fakeEscapi_noteLoad(void);

// Frames a device delivers, one per doCapture, in order; the last one queued
// repeats. With none queued, or while stalled, a capture never completes.
void fakeEscapi_queueFrame(int device, const unsigned int *words, int count);
void fakeEscapi_clearFrames(int device);
void fakeEscapi_setStalled(int device, int stalled);

// How often an entry point was called ("load" counts library loads), in all
// or for one device; and the log of every call as "name(device) " entries.
int fakeEscapi_callCount(const char *entryPoint);
int fakeEscapi_deviceCallCount(const char *entryPoint, int device);
const char *fakeEscapi_callLog(void);

#ifdef __cplusplus
}
#endif

#endif
