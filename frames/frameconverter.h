#ifndef ORVELLA_FRAMECONVERTER_H
#define ORVELLA_FRAMECONVERTER_H

#include "gstptr.h"
#include "jpegdecoder.h"
#include "planescaler.h"

#include <gst/gst.h>
#include <gst/video/video.h>

#include <memory>
#include <vector>

// Turns frames of any raw format and size, and JPEG pictures, into the
// caller's frame buffer: width x height words, rows back to back, each word
// 0xAARRGGBB. A JPEG picture is decoded only here, for the frames the caller
// takes, and no larger than it needs to be (see JpegDecoder).
//
// The usual formats (planar and packed YUV, grey and BGRA) are scaled
// bilinearly in their own format (see PlaneScaler), the fewest bytes, and
// then converted to colour with the matrix and range their caps name; any
// other is scaled and converted by GStreamer's video converter. The capture
// library and the clip scan both make their frames here, so the two give
// the same frames of the same video. Used by one thread at a time.
class FrameConverter
{
public:
    // The buffer stays the caller's; it must outlive the converter.
    FrameConverter(unsigned int *buffer, int width, int height);
    ~FrameConverter();

    FrameConverter(const FrameConverter &) = delete;
    FrameConverter &operator=(const FrameConverter &) = delete;

    // Writes sample's frame into the buffer; false when it is neither raw
    // video this converter reads nor a JPEG picture that decodes.
    bool convert(GstSample *sample);

    // Frames from now on go into buffer, of the same size; it must outlive
    // the converter as well.
    void setBuffer(unsigned int *buffer);

private:
    struct Scaling;

    bool convertJpeg(GstBuffer *buffer);
    // Scales and converts a frame of layout from; buffer may carry video
    // meta with a layout of its own.
    bool convertFrame(const GstVideoInfo &from, GstBuffer *buffer);
    bool convertScaled(const GstVideoInfo &from, GstBuffer *buffer);
    bool prepare(const GstVideoInfo &from);
    bool prepareConverters(const GstVideoInfo &from);

    unsigned int *m_buffer;
    const int m_width;
    const int m_height;
    // The usual formats' own way, when from is one of them.
    std::unique_ptr<Scaling> m_scaling;
    // Otherwise the scaler (when the sizes differ) writes into m_scaled, the
    // converter from there into m_target, the caller's buffer; a frame
    // already in the caller's format is scaled straight into it.
    ConverterPtr m_scaler;
    ConverterPtr m_converter;
    CapsPtr m_caps; // the last sample's, read into m_from unless m_jpeg
    bool m_jpeg = false;
    bool m_prepared = false; // the converters are for m_from
    GstVideoInfo m_from;
    GstVideoInfo m_scaledInfo;
    GstVideoInfo m_to;
    BufferPtr m_scaled;
    BufferPtr m_target; // m_buffer as GStreamer's converters write it
    JpegDecoder m_decoder;
};

#endif
