#ifndef ORVELLA_FAKEESCAPI_H
#define ORVELLA_FAKEESCAPI_H

// Control side of the test double for the capture library. The double exports
// the same eight entry points and the optional ones (the frame-done
// descriptor, readable exactly while isCaptureDone would say done, the error
// text, and the event clips of escapiclips.h); tests script devices, frames,
// clips and failures here and read back every call it received. Entry points and controls may be
// called from any thread.

#ifdef __cplusplus
extern "C" {
#endif

// Back to defaults: loadable, version 0x200, no devices, nothing missing,
// every initCapture succeeds at once, no frames queued, counts and log
// cleared. The calling thread becomes the one calls are counted against in
// fakeEscapi_offThreadCallCount.
void fakeEscapi_reset(void);

void fakeEscapi_setDeviceCount(int count);
// Raw name bytes (up to 512) that getCaptureDeviceName copies out as they are.
void fakeEscapi_setDeviceName(int device, const char *bytes, int length);
void fakeEscapi_setVersion(int version);
void fakeEscapi_setInitResult(int device, int result);
// How long initCapture takes for a device, like a slow camera starting.
void fakeEscapi_setInitDelay(int device, int milliseconds);
// A broken library: the device's frame-done descriptor readable all along.
void fakeEscapi_setDescriptorStuck(int device, int stuck);
// What getCaptureErrorText gives for a device (UTF-8; empty by default).
void fakeEscapi_setErrorText(int device, const char *text);

// Whether dlopen of the library succeeds, and which entry points dlsym does
// not find; answered by the loader hooks linked into the test program.
void fakeEscapi_setLoadable(int loadable);
int fakeEscapi_isLoadable(void);
void fakeEscapi_setMissing(const char *entryPoint);
int fakeEscapi_isMissing(const char *entryPoint);
void fakeEscapi_noteLoad(void);

// Frames a device delivers, one per doCapture, in order. A request made while
// no frame is available (none queued, or stalled) stays open and completes as
// soon as one is: when a frame is queued or the stall ends. By default the
// last frame queued repeats; with repeatLast off a device whose frames have
// all been delivered stalls until more are queued.
void fakeEscapi_queueFrame(int device, const unsigned int *words, int count);
void fakeEscapi_clearFrames(int device);
void fakeEscapi_setStalled(int device, int stalled);
void fakeEscapi_setRepeatLast(int device, int repeat);

// Event clips. The double answers as the library does (off until
// setEventClipPreroll, refused while the device is not open, 2 while a clip
// takes pictures) but writes no file: a clip stopped, or ended by
// deinitCapture or by turning clips off, waits until finishClips reports it
// (written or not; message empty: the note of why it ended, if any), and
// failClip fails the clip taking pictures at once. setClipStartResult makes
// every startEventClip answer result (-1: as above); setClipEncoding sets the
// status' encoding flag. clipPath is the clip taking pictures ("" for none),
// clipPreroll the device's setting (-1 off) and clipPostroll the last
// post-roll a stop gave (-1 none). Reports carry the pre-roll setting and no
// duration.
void fakeEscapi_setClipStartResult(int device, int result);
void fakeEscapi_setClipEncoding(int device, int encoding);
void fakeEscapi_finishClips(int device, int written, const char *message);
void fakeEscapi_failClip(int device, const char *message);
const char *fakeEscapi_clipPath(int device);
int fakeEscapi_clipPreroll(int device);
int fakeEscapi_clipPostroll(int device);

// Whether a device is open: initCapture succeeded and no deinitCapture since.
int fakeEscapi_isOpen(int device);

// How often an entry point was called ("load" counts library loads), in all
// or for one device; how often from another thread than the one that last
// reset the double; how often any call for a device came in while an
// initCapture for that device was still running; and the log of every call
// as "name(device) " entries (read it while no other thread calls in).
int fakeEscapi_callCount(const char *entryPoint);
int fakeEscapi_deviceCallCount(const char *entryPoint, int device);
int fakeEscapi_offThreadCallCount(const char *entryPoint);
int fakeEscapi_overlapCount(void);
const char *fakeEscapi_callLog(void);

#ifdef __cplusplus
}
#endif

#endif
