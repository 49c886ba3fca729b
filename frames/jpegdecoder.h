#ifndef ORVELLA_JPEGDECODER_H
#define ORVELLA_JPEGDECODER_H

#include "gstptr.h"

#include <gst/gst.h>
#include <gst/video/video.h>

#include <memory>

// By how much a JPEG picture of width x height may be decoded smaller while
// it still covers wantedWidth x wantedHeight: 8, 4, 2 or 1 (not at all).
// The reduced transform only pays where the picture is at least twice the
// wanted size in each direction.
int jpegScaleDenominator(int width, int height, int wantedWidth, int wantedHeight);

// Decodes JPEG pictures. A 4:2:0 or grey picture at full size comes out as
// the stock JPEG decoding element gives it: planar YUV, from the same library
// with its fast integer transform, so the very same picture. Pictures at
// least twice the wanted size are decoded smaller, by jpegScaleDenominator,
// which leaves a quarter of the pixels or fewer to transform and to scale.
// YCbCr and grey pictures come out as the library's own planes, written
// straight into the picture: at a reduced size its chroma is often as large
// as its luma (planar 4:4:4), since the library transforms chroma at a larger
// scale rather than upsample it. Pictures of other colour spaces, or planes
// of no planar layout, come out as BGRA, converted by the library as JPEG
// defines it. Used by one thread at a time.
class JpegDecoder
{
public:
    JpegDecoder();
    ~JpegDecoder();

    JpegDecoder(const JpegDecoder &) = delete;
    JpegDecoder &operator=(const JpegDecoder &) = delete;

    // Decodes data into picture(); false when it holds no picture this
    // decoder can read. A damaged picture that decodes is taken.
    bool decode(const guint8 *data, gsize size, int wantedWidth, int wantedHeight);

    // The last picture decoded and its layout; the buffer is reused by the
    // next decode of the same layout.
    const GstVideoInfo &info() const { return m_info; }
    GstBuffer *picture() const { return m_picture.get(); }
    // Hands the last picture over; the next decode makes a new buffer.
    BufferPtr takePicture() { return std::move(m_picture); }

private:
    struct Planes;

    // 1 decoded, 0 failed, -1 not into planes (then as BGRA).
    int decodePlanes(const guint8 *data, gsize size, int denominator);
    bool layOut(GstVideoFormat format, int width, int height, bool yuv);

    void *m_handle;
    std::unique_ptr<Planes> m_planes;
    GstVideoInfo m_info;
    BufferPtr m_picture;
};

#endif
