#ifndef ORVELLA_FRAMECONVERTER_H
#define ORVELLA_FRAMECONVERTER_H

#include "gstptr.h"

#include <gst/gst.h>
#include <gst/video/video.h>

// Turns frames of any raw format and size into the caller's frame buffer:
// width x height words, rows back to back, each word 0xAARRGGBB. Used by one
// thread at a time.
class FrameConverter
{
public:
    // The buffer stays the caller's; it must outlive the converter.
    FrameConverter(unsigned int *buffer, int width, int height);

    FrameConverter(const FrameConverter &) = delete;
    FrameConverter &operator=(const FrameConverter &) = delete;

    // Writes sample's frame into the buffer; false when its caps are not
    // raw video this converter reads.
    bool convert(GstSample *sample);

private:
    bool prepare(const GstVideoInfo &from);

    const int m_width;
    const int m_height;
    // The scaler (when the sizes differ) writes into m_scaled, the converter
    // from there into m_target, the caller's buffer.
    ConverterPtr m_scaler;
    ConverterPtr m_converter;
    CapsPtr m_caps; // what m_from was read from
    GstVideoInfo m_from;
    GstVideoInfo m_scaledInfo;
    GstVideoInfo m_to;
    BufferPtr m_scaled;
    BufferPtr m_target;
};

#endif
