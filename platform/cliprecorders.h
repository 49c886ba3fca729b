#ifndef ORVELLA_CLIPRECORDERS_H
#define ORVELLA_CLIPRECORDERS_H

#include "cliprecorder.h"

#include <memory>

// The clip recorder of each device, made on first use and kept for the life
// of the process, so clips outlive the camera pipelines they come from.
std::shared_ptr<ClipRecorder> clipRecorderFor(int deviceno);
// The device's recorder if it has one, else null.
std::shared_ptr<ClipRecorder> existingClipRecorder(int deviceno);

#endif
