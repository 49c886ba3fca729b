// Event clips: optional entry points of the capture library. A program binds
// them by name when the library has them and works as before without them.
//
// While clips are on for a device, the library keeps the last stretch of the
// camera's pictures as H.264 (the camera's own stream when it sends H.264,
// otherwise its pictures encoded by the library, with a keyframe every
// second). A clip is one MP4 file per event at the camera's own size and
// rate, with its index at the front: it starts the pre-roll before
// startEventClip and ends the post-roll after stopEventClip, at the next
// keyframe. It grows under the name + ".part" and takes its own name only
// when complete; a clip that fails leaves no file. An existing file is never
// replaced. Clips of one device never share a picture.
//
// A camera that stops, or is closed by deinitCapture, while a clip takes
// pictures ends that clip with its last picture: the clip is still written,
// and its report says why it ended early. Clips are finished in the
// background after deinitCapture, and at the end of the process for up to
// five seconds.
//
// None of these calls waits for a file or a camera; they may be called from
// any thread. All text is UTF-8.
#ifndef ORVELLA_ESCAPICLIPS_H
#define ORVELLA_ESCAPICLIPS_H

#include "escapi.h"

#ifdef __cplusplus
extern "C" {
#endif

#define EVENT_CLIP_MAX_PREROLL_MS 30000
#define EVENT_CLIP_PATH_SIZE 4096
#define EVENT_CLIP_MESSAGE_SIZE 512

// getEventClipStatus' state.
#define EVENT_CLIP_IDLE 0      // no clip takes pictures, none is being written
#define EVENT_CLIP_RECORDING 1 // a clip takes pictures until stopEventClip
#define EVENT_CLIP_POSTROLL 2  // stopped; takes pictures until its post-roll ends
#define EVENT_CLIP_FINISHING 3 // no clip takes pictures; earlier ones are being written

struct EventClipStatus {
    int state;
    // The pre-roll a clip started now would have, and the memory held for it.
    int keptMs;
    long long keptBytes;
    // 1: the library encodes the camera's pictures; 0: it keeps the camera's
    // own H.264 as it comes (or nothing is kept).
    int encoding;
};

// What became of a clip: one report for every startEventClip that returned 1.
struct EventClipReport {
    // 1: the file is complete under its name. 0: it failed; no file is left.
    int written;
    // From the clip's first picture to the startEventClip call (below zero
    // when the clip could only start after it), and the clip's length.
    int prerollMs;
    int durationMs;
    char path[EVENT_CLIP_PATH_SIZE];
    // Why it failed, or why it ended before its post-roll ("the camera
    // stopped: ..."); empty otherwise. Cut at a character boundary.
    char message[EVENT_CLIP_MESSAGE_SIZE];
};

// Clips on for a device, keeping prerollMs (0 to EVENT_CLIP_MAX_PREROLL_MS)
// before each request; -1 turns them off, ends a running clip and frees
// what was kept. Applies at once to an open device and to every later
// initCapture. Returns 1, or 0 for a negative device index or a value out
// of range.
ESCAPI_EXPORT int setEventClipPreroll(int deviceno, int prerollMs);

// Starts a clip of an event that begins now, written to pathUtf8 (at most
// EVENT_CLIP_PATH_SIZE - 1 bytes; its folder must exist).
//   1: a clip started. Its pre-roll comes from what was kept; a device
//      whose camera is being started again begins the clip with its first
//      picture back. A report follows.
//   2: a clip still takes pictures (recording or in its post-roll): the
//      event joins it, and a clip in its post-roll records again until the
//      next stopEventClip. pathUtf8 is not used and no report follows.
//   0: refused: clips are off for the device, the device is not open, or
//      the path is empty or too long.
// A clip never reaches back into the clip before it: when the pre-roll
// would, it starts where that clip ended, with a shorter pre-roll.
ESCAPI_EXPORT int startEventClip(int deviceno, const char *pathUtf8);

// Ends the recording clip postrollMs (0 or more) from now, at the first
// keyframe from then on. 1, or 0 when no clip is recording (none started,
// already stopped, or it ended or failed by itself) or postrollMs < 0.
ESCAPI_EXPORT int stopEventClip(int deviceno, int postrollMs);

// Fills status; 1, or 0 for a null status or negative device index. Also
// for a device that is not open: clips go on being written after
// deinitCapture.
ESCAPI_EXPORT int getEventClipStatus(int deviceno, struct EventClipStatus *status);

// Takes the oldest report of a clip that is done: 1 and report filled, or 0
// when there is none.
ESCAPI_EXPORT int takeEventClipReport(int deviceno, struct EventClipReport *report);

typedef int (*setEventClipPrerollProc)(int, int);
typedef int (*startEventClipProc)(int, const char *);
typedef int (*stopEventClipProc)(int, int);
typedef int (*getEventClipStatusProc)(int, struct EventClipStatus *);
typedef int (*takeEventClipReportProc)(int, struct EventClipReport *);

#ifdef __cplusplus
}
#endif

#endif
