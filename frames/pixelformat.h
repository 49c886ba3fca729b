#ifndef ORVELLA_PIXELFORMAT_H
#define ORVELLA_PIXELFORMAT_H

#include <glib.h>
#include <gst/video/video-format.h>

// The raw video format whose pixels, read as native 32-bit words, are
// 0xAARRGGBB: bytes B, G, R, A on little-endian machines.
inline const char *nativeArgbFormat()
{
    return G_BYTE_ORDER == G_LITTLE_ENDIAN ? "BGRA" : "ARGB";
}

// The same as a GStreamer video format.
inline GstVideoFormat nativeArgbVideoFormat()
{
    return G_BYTE_ORDER == G_LITTLE_ENDIAN ? GST_VIDEO_FORMAT_BGRA : GST_VIDEO_FORMAT_ARGB;
}

#endif
