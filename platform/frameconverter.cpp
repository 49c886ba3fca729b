#include "frameconverter.h"

#include "pixelformat.h"

namespace
{

// A frame with info's timing and field order in format at width x height.
GstVideoInfo resized(const GstVideoInfo &info, GstVideoFormat format, int width, int height)
{
    GstVideoInfo to;
    gst_video_info_set_interlaced_format(&to, format, GST_VIDEO_INFO_INTERLACE_MODE(&info),
                                         guint(width), guint(height));
    GST_VIDEO_INFO_FPS_N(&to) = GST_VIDEO_INFO_FPS_N(&info);
    GST_VIDEO_INFO_FPS_D(&to) = GST_VIDEO_INFO_FPS_D(&info);
    return to;
}

// info at width x height: the same samples, so the same colour ranges,
// matrix and chroma siting.
GstVideoInfo rescaled(const GstVideoInfo &info, int width, int height)
{
    GstVideoInfo to = resized(info, GST_VIDEO_INFO_FORMAT(&info), width, height);
    to.colorimetry = info.colorimetry;
    to.chroma_site = info.chroma_site;
    return to;
}

// Bilinear, as the stock scaling element does by default.
GstVideoConverter *newScaler(const GstVideoInfo &from, const GstVideoInfo &to)
{
    GstStructure *options =
        gst_structure_new("options", GST_VIDEO_CONVERTER_OPT_RESAMPLER_METHOD,
                          GST_TYPE_VIDEO_RESAMPLER_METHOD, GST_VIDEO_RESAMPLER_METHOD_LINEAR,
                          GST_VIDEO_CONVERTER_OPT_RESAMPLER_TAPS, G_TYPE_UINT, 2u, nullptr);
    return gst_video_converter_new(&from, &to, options);
}

bool convertBuffer(GstVideoConverter *converter, const GstVideoInfo &fromInfo, GstBuffer *from,
                   const GstVideoInfo &toInfo, GstBuffer *to)
{
    GstVideoFrame in;
    GstVideoFrame out;
    if (!gst_video_frame_map(&in, &fromInfo, from, GST_MAP_READ))
        return false;
    const bool mapped = gst_video_frame_map(&out, &toInfo, to, GST_MAP_WRITE);
    if (mapped) {
        gst_video_converter_frame(converter, &in, &out);
        gst_video_frame_unmap(&out);
    }
    gst_video_frame_unmap(&in);
    return mapped;
}

} // namespace

FrameConverter::FrameConverter(unsigned int *buffer, int width, int height)
    : m_width(width), m_height(height)
{
    // The caller's buffer seen as a GStreamer buffer, for the converter to
    // write into; it stays the caller's.
    const gsize size = gsize(width) * gsize(height) * sizeof(unsigned int);
    m_target.reset(
        gst_buffer_new_wrapped_full(GstMemoryFlags(0), buffer, size, 0, size, nullptr, nullptr));
}

bool FrameConverter::convert(GstSample *sample)
{
    GstCaps *caps = gst_sample_get_caps(sample);
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer)
        return false;
    // A stream keeps its caps, mostly the very same object: the frame layout
    // is read from them only when they change.
    if (!m_converter || !m_caps || !gst_caps_is_equal(caps, m_caps.get())) {
        GstVideoInfo from;
        if (!gst_video_info_from_caps(&from, caps) || !prepare(from))
            return false;
        m_caps.reset(gst_caps_ref(caps));
    }
    // Scaling in the source's own format first touches the fewest bytes, and
    // each step runs on its converter's fast path. The caller's rows lie back
    // to back just as the target's layout says.
    if (!m_scaler)
        return convertBuffer(m_converter.get(), m_from, buffer, m_to, m_target.get());
    return convertBuffer(m_scaler.get(), m_from, buffer, m_scaledInfo, m_scaled.get()) &&
           convertBuffer(m_converter.get(), m_scaledInfo, m_scaled.get(), m_to, m_target.get());
}

bool FrameConverter::prepare(const GstVideoInfo &from)
{
    m_converter.reset();
    m_scaler.reset();
    m_scaled.reset();
    m_from = from;
    m_to = resized(from, nativeArgbVideoFormat(), m_width, m_height);
    const bool scale =
        GST_VIDEO_INFO_WIDTH(&from) != m_width || GST_VIDEO_INFO_HEIGHT(&from) != m_height;
    if (scale) {
        m_scaledInfo = rescaled(from, m_width, m_height);
        m_scaler.reset(newScaler(from, m_scaledInfo));
        m_scaled.reset(
            gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&m_scaledInfo), nullptr));
        if (!m_scaler || !m_scaled)
            return false;
    }
    m_converter.reset(gst_video_converter_new(scale ? &m_scaledInfo : &m_from, &m_to, nullptr));
    return bool(m_converter);
}
