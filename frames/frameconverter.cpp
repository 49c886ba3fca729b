#include "frameconverter.h"

#include "pixelformat.h"

#include <libyuv/convert.h>
#include <libyuv/convert_argb.h>

#include <cstdint>

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

// The matrix and range of YUV samples where the vector conversion gives
// what the matrix says, within a step or two at the most saturated colours;
// null for the others, whose strong blues it would clip (BT.709, BT.2020).
const libyuv::YuvConstants *yuvMatrix(const GstVideoColorimetry &colorimetry)
{
    if (colorimetry.matrix != GST_VIDEO_COLOR_MATRIX_BT601)
        return nullptr;
    switch (colorimetry.range) {
    case GST_VIDEO_COLOR_RANGE_0_255:
        return &libyuv::kYuvJPEGConstants;
    case GST_VIDEO_COLOR_RANGE_16_235:
        return &libyuv::kYuvI601Constants;
    default:
        return nullptr;
    }
}

// Luma's range for a grey picture, which names no matrix.
const libyuv::YuvConstants *greyRange(const GstVideoColorimetry &colorimetry)
{
    return colorimetry.range == GST_VIDEO_COLOR_RANGE_16_235 ? &libyuv::kYuvI601Constants
                                                             : &libyuv::kYuvJPEGConstants;
}

int half(int size)
{
    return (size + 1) / 2;
}

} // namespace

// The usual formats' way: scaled in their own samples, then converted.
struct FrameConverter::Scaling {
    GstVideoFormat format;
    int width; // of the frames taken
    int height;
    PlaneScaler luma; // or BGRA pixels
    PlaneScaler chroma;
    // Packed and semi-planar YUV are made planar 4:2:0 first, at their size.
    std::vector<std::uint8_t> planar;
    // The planes at the caller's size, laid out as scaledInfo says, in
    // scaledBuffer for GStreamer's converter.
    GstVideoInfo scaledInfo;
    std::vector<std::uint8_t> scaled;
    BufferPtr scaledBuffer;
    // Their colours: the vector conversion for the matrices it has, else
    // GStreamer's converter.
    const libyuv::YuvConstants *matrix = nullptr;
    ConverterPtr colour;

    Scaling(GstVideoFormat format, int width, int height, int toWidth, int toHeight)
        : format(format), width(width), height(height),
          luma(width, height, toWidth, toHeight, format == nativeArgbVideoFormat() ? 4 : 1),
          chroma(chromaWidth(format, width), chromaHeight(format, height), half(toWidth),
                 half(toHeight))
    {
    }

    // Of the planes scaled: 4:2:2 and 4:4:4 keep their own, the others are
    // 4:2:0 by then.
    static int chromaWidth(GstVideoFormat format, int width)
    {
        return format == GST_VIDEO_FORMAT_Y444 ? width : half(width);
    }
    static int chromaHeight(GstVideoFormat format, int height)
    {
        return format == GST_VIDEO_FORMAT_Y444 || format == GST_VIDEO_FORMAT_Y42B ? height
                                                                                  : half(height);
    }

    std::uint8_t *scaledPlane(int plane)
    {
        return scaled.data() + GST_VIDEO_INFO_PLANE_OFFSET(&scaledInfo, plane);
    }
    int scaledStride(int plane) const { return GST_VIDEO_INFO_PLANE_STRIDE(&scaledInfo, plane); }
};

FrameConverter::FrameConverter(unsigned int *buffer, int width, int height)
    : m_buffer(nullptr), m_width(width), m_height(height)
{
    setBuffer(buffer);
}

void FrameConverter::setBuffer(unsigned int *buffer)
{
    if (buffer == m_buffer)
        return;
    m_buffer = buffer;
    // The caller's buffer seen as a GStreamer buffer, for the converter to
    // write into; it stays the caller's.
    const gsize size = gsize(m_width) * gsize(m_height) * sizeof(unsigned int);
    m_target.reset(
        gst_buffer_new_wrapped_full(GstMemoryFlags(0), buffer, size, 0, size, nullptr, nullptr));
}

FrameConverter::~FrameConverter() = default;

bool FrameConverter::convert(GstSample *sample)
{
    GstCaps *caps = gst_sample_get_caps(sample);
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer || gst_caps_get_size(caps) == 0)
        return false;
    // A stream keeps its caps, mostly the very same object: the frame layout
    // is read from them only when they change.
    if (!m_caps || !gst_caps_is_equal(caps, m_caps.get())) {
        m_caps.reset();
        m_jpeg = gst_structure_has_name(gst_caps_get_structure(caps, 0), "image/jpeg");
        GstVideoInfo from;
        if (!m_jpeg && (!gst_video_info_from_caps(&from, caps) || !prepare(from)))
            return false;
        m_caps.reset(gst_caps_ref(caps));
    }
    return m_jpeg ? convertJpeg(buffer) : convertFrame(m_from, buffer);
}

bool FrameConverter::convertJpeg(GstBuffer *buffer)
{
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return false;
    const bool decoded = m_decoder.decode(map.data, map.size, m_width, m_height);
    gst_buffer_unmap(buffer, &map);
    if (!decoded)
        return false;
    if (!m_prepared || !gst_video_info_is_equal(&m_decoder.info(), &m_from)) {
        if (!prepare(m_decoder.info()))
            return false;
    }
    return convertFrame(m_from, m_decoder.picture());
}

bool FrameConverter::convertFrame(const GstVideoInfo &from, GstBuffer *buffer)
{
    if (m_scaling)
        return convertScaled(from, buffer);
    // Scaling in the source's own format first touches the fewest bytes, and
    // each step runs on its converter's fast path. The caller's rows lie back
    // to back just as the target's layout says.
    if (!m_scaler)
        return convertBuffer(m_converter.get(), from, buffer, m_to, m_target.get());
    if (!m_converter)
        return convertBuffer(m_scaler.get(), from, buffer, m_to, m_target.get());
    return convertBuffer(m_scaler.get(), from, buffer, m_scaledInfo, m_scaled.get()) &&
           convertBuffer(m_converter.get(), m_scaledInfo, m_scaled.get(), m_to, m_target.get());
}

bool FrameConverter::convertScaled(const GstVideoInfo &from, GstBuffer *buffer)
{
    GstVideoFrame in;
    if (!gst_video_frame_map(&in, &from, buffer, GST_MAP_READ))
        return false;
    Scaling &s = *m_scaling;
    auto *target = reinterpret_cast<std::uint8_t *>(m_buffer);
    const int targetStride = m_width * 4;
    if (s.format == nativeArgbVideoFormat()) {
        s.luma.scale(static_cast<const std::uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&in, 0)),
                     GST_VIDEO_FRAME_PLANE_STRIDE(&in, 0), target, targetStride);
        gst_video_frame_unmap(&in);
        return true;
    }

    // The source's planes, or planar 4:2:0 made of its packed or
    // semi-planar samples.
    const std::uint8_t *planes[3];
    int strides[3];
    for (int component = 0; component < 3; ++component) {
        const int c = s.format == GST_VIDEO_FORMAT_GRAY8 ? 0 : component;
        planes[component] = static_cast<const std::uint8_t *>(GST_VIDEO_FRAME_COMP_DATA(&in, c));
        strides[component] = GST_VIDEO_FRAME_COMP_STRIDE(&in, c);
    }
    if (!s.planar.empty()) {
        const int chromaWidth = half(s.width);
        std::uint8_t *y = s.planar.data();
        std::uint8_t *u = y + std::size_t(s.width) * std::size_t(s.height);
        std::uint8_t *v = u + std::size_t(chromaWidth) * std::size_t(half(s.height));
        const auto *data = static_cast<const std::uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&in, 0));
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&in, 0);
        if (s.format == GST_VIDEO_FORMAT_NV12 || s.format == GST_VIDEO_FORMAT_NV21)
            (s.format == GST_VIDEO_FORMAT_NV12 ? libyuv::NV12ToI420 : libyuv::NV21ToI420)(
                data, stride, static_cast<const std::uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&in, 1)),
                GST_VIDEO_FRAME_PLANE_STRIDE(&in, 1), y, s.width, u, chromaWidth, v, chromaWidth,
                s.width, s.height);
        else
            (s.format == GST_VIDEO_FORMAT_YUY2 ? libyuv::YUY2ToI420 : libyuv::UYVYToI420)(
                data, stride, y, s.width, u, chromaWidth, v, chromaWidth, s.width, s.height);
        planes[0] = y;
        planes[1] = u;
        planes[2] = v;
        strides[0] = s.width;
        strides[1] = strides[2] = chromaWidth;
    }

    s.luma.scale(planes[0], strides[0], s.scaledPlane(0), s.scaledStride(0));
    if (s.format != GST_VIDEO_FORMAT_GRAY8) {
        s.chroma.scale(planes[1], strides[1], s.scaledPlane(1), s.scaledStride(1));
        s.chroma.scale(planes[2], strides[2], s.scaledPlane(2), s.scaledStride(2));
    }
    gst_video_frame_unmap(&in);
    if (s.colour)
        return convertBuffer(s.colour.get(), s.scaledInfo, s.scaledBuffer.get(), m_to,
                             m_target.get());
    if (s.format == GST_VIDEO_FORMAT_GRAY8)
        return libyuv::I400ToARGBMatrix(s.scaledPlane(0), s.scaledStride(0), target, targetStride,
                                        s.matrix, m_width, m_height) == 0;
    return libyuv::I420ToARGBMatrix(s.scaledPlane(0), s.scaledStride(0), s.scaledPlane(1),
                                    s.scaledStride(1), s.scaledPlane(2), s.scaledStride(2), target,
                                    targetStride, s.matrix, m_width, m_height) == 0;
}

bool FrameConverter::prepare(const GstVideoInfo &from)
{
    m_prepared = false;
    m_scaling.reset();
    m_from = from;
    m_to = resized(from, nativeArgbVideoFormat(), m_width, m_height);
    const GstVideoFormat format = GST_VIDEO_INFO_FORMAT(&from);
    const int width = GST_VIDEO_INFO_WIDTH(&from);
    const int height = GST_VIDEO_INFO_HEIGHT(&from);
    bool usual;
    switch (format) {
    case GST_VIDEO_FORMAT_I420:
    case GST_VIDEO_FORMAT_YV12:
    case GST_VIDEO_FORMAT_Y42B:
    case GST_VIDEO_FORMAT_Y444:
    case GST_VIDEO_FORMAT_NV12:
    case GST_VIDEO_FORMAT_NV21:
    case GST_VIDEO_FORMAT_YUY2:
    case GST_VIDEO_FORMAT_UYVY:
    case GST_VIDEO_FORMAT_GRAY8:
        usual = true;
        break;
    default:
        // 0xAARRGGBB words, alpha and all, are BGRA bytes only here.
        usual = G_BYTE_ORDER == G_LITTLE_ENDIAN && format == nativeArgbVideoFormat();
        break;
    }
    // Fields woven into one picture are not blended across.
    if (!usual || GST_VIDEO_INFO_IS_INTERLACED(&from) || width <= 0 || height <= 0)
        return prepareConverters(from);

    std::unique_ptr<Scaling> s(new Scaling(format, width, height, m_width, m_height));
    if (format == GST_VIDEO_FORMAT_NV12 || format == GST_VIDEO_FORMAT_NV21 ||
        format == GST_VIDEO_FORMAT_YUY2 || format == GST_VIDEO_FORMAT_UYVY)
        s->planar.resize(std::size_t(width) * std::size_t(height) +
                         2 * std::size_t(half(width)) * std::size_t(half(height)));
    if (format != nativeArgbVideoFormat()) {
        // Planar 4:2:0, or grey, at the caller's size with the source's colours.
        const GstVideoFormat planarFormat =
            format == GST_VIDEO_FORMAT_GRAY8 ? GST_VIDEO_FORMAT_GRAY8 : GST_VIDEO_FORMAT_I420;
        s->scaledInfo = resized(from, planarFormat, m_width, m_height);
        s->scaledInfo.colorimetry = from.colorimetry;
        s->scaledInfo.chroma_site = from.chroma_site;
        s->scaled.resize(GST_VIDEO_INFO_SIZE(&s->scaledInfo));
        s->scaledBuffer.reset(gst_buffer_new_wrapped_full(GstMemoryFlags(0), s->scaled.data(),
                                                          s->scaled.size(), 0, s->scaled.size(),
                                                          nullptr, nullptr));
        s->matrix = format == GST_VIDEO_FORMAT_GRAY8 ? greyRange(from.colorimetry)
                                                     : yuvMatrix(from.colorimetry);
        if (!s->matrix) {
            s->colour.reset(gst_video_converter_new(&s->scaledInfo, &m_to, nullptr));
            if (!s->colour)
                return prepareConverters(from);
        }
    }
    m_scaling = std::move(s);
    m_prepared = true;
    return true;
}

bool FrameConverter::prepareConverters(const GstVideoInfo &from)
{
    m_converter.reset();
    m_scaler.reset();
    m_scaled.reset();
    const bool scale =
        GST_VIDEO_INFO_WIDTH(&from) != m_width || GST_VIDEO_INFO_HEIGHT(&from) != m_height;
    if (scale && GST_VIDEO_INFO_FORMAT(&from) == GST_VIDEO_INFO_FORMAT(&m_to)) {
        // Already the caller's format: scaled straight into the buffer.
        m_scaler.reset(newScaler(from, m_to));
        m_prepared = bool(m_scaler);
        return m_prepared;
    }
    if (scale) {
        m_scaledInfo = rescaled(from, m_width, m_height);
        m_scaler.reset(newScaler(from, m_scaledInfo));
        m_scaled.reset(
            gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&m_scaledInfo), nullptr));
        if (!m_scaler || !m_scaled)
            return false;
    }
    m_converter.reset(gst_video_converter_new(scale ? &m_scaledInfo : &m_from, &m_to, nullptr));
    m_prepared = bool(m_converter);
    return m_prepared;
}
