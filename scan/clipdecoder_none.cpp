#include "clipdecoder.h"

// This build has no GStreamer to decode with.
struct ClipDecoder::Pipeline {
};

ClipDecoder::ClipDecoder() = default;

ClipDecoder::~ClipDecoder() = default;

bool ClipDecoder::open(const QString &, bool)
{
    return false;
}

bool ClipDecoder::next(QImage *, qint64 *)
{
    return false;
}

QString ClipDecoder::error() const
{
    return "this build of the program cannot decode video";
}

qint64 ClipDecoder::statedDurationMs() const
{
    return -1;
}
