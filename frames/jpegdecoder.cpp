#include "jpegdecoder.h"

#include "pixelformat.h"

#include <turbojpeg.h>

#include <initializer_list>

namespace
{

// Larger pictures are refused rather than given memory for.
constexpr int MaxSide = 16384;

// The planar layout of a YCbCr picture of this subsampling that the stock
// decoding element gives too, or UNKNOWN.
GstVideoFormat planarFormat(int subsampling, int colourSpace)
{
    if (colourSpace == TJCS_GRAY)
        return GST_VIDEO_FORMAT_GRAY8;
    if (colourSpace == TJCS_YCbCr && subsampling == TJSAMP_420)
        return GST_VIDEO_FORMAT_I420;
    return GST_VIDEO_FORMAT_UNKNOWN;
}

} // namespace

int jpegScaleDenominator(int width, int height, int wantedWidth, int wantedHeight)
{
    for (int denominator : {8, 4, 2}) {
        const tjscalingfactor factor = {1, denominator};
        if (TJSCALED(width, factor) >= wantedWidth && TJSCALED(height, factor) >= wantedHeight)
            return denominator;
    }
    return 1;
}

JpegDecoder::JpegDecoder() : m_handle(tjInitDecompress())
{
    gst_video_info_init(&m_info);
}

JpegDecoder::~JpegDecoder()
{
    if (m_handle)
        tjDestroy(m_handle);
}

bool JpegDecoder::decode(const guint8 *data, gsize size, int wantedWidth, int wantedHeight)
{
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colourSpace = 0;
    auto *jpeg = const_cast<unsigned char *>(data);
    if (!m_handle || size == 0 ||
        tjDecompressHeader3(m_handle, jpeg, size, &width, &height, &subsampling, &colourSpace) !=
            0 ||
        width <= 0 || height <= 0 || width > MaxSide || height > MaxSide)
        return false;
    const tjscalingfactor factor = {1,
                                    jpegScaleDenominator(width, height, wantedWidth, wantedHeight)};
    const int scaledWidth = TJSCALED(width, factor);
    const int scaledHeight = TJSCALED(height, factor);

    // The library's reduced decoding into planes keeps the chroma larger
    // than the planes' layout says: reduced pictures come out as BGRA.
    const GstVideoFormat planar =
        factor.denom == 1 ? planarFormat(subsampling, colourSpace) : GST_VIDEO_FORMAT_UNKNOWN;
    const bool yuv = planar != GST_VIDEO_FORMAT_UNKNOWN;
    if (!layOut(yuv ? planar : nativeArgbVideoFormat(), scaledWidth, scaledHeight, yuv))
        return false;

    GstMapInfo map;
    if (!gst_buffer_map(m_picture.get(), &map, GST_MAP_WRITE))
        return false;
    int result;
    if (yuv) {
        unsigned char *planes[3] = {};
        int strides[3] = {};
        for (guint i = 0; i < GST_VIDEO_INFO_N_PLANES(&m_info); ++i) {
            planes[i] = map.data + GST_VIDEO_INFO_PLANE_OFFSET(&m_info, i);
            strides[i] = GST_VIDEO_INFO_PLANE_STRIDE(&m_info, i);
        }
        result = tjDecompressToYUVPlanes(m_handle, jpeg, size, planes, scaledWidth, strides,
                                         scaledHeight, TJFLAG_FASTDCT);
    } else {
        result = tjDecompress2(
            m_handle, jpeg, size, map.data, scaledWidth, GST_VIDEO_INFO_PLANE_STRIDE(&m_info, 0),
            scaledHeight, G_BYTE_ORDER == G_LITTLE_ENDIAN ? TJPF_BGRA : TJPF_ARGB, TJFLAG_FASTDCT);
    }
    gst_buffer_unmap(m_picture.get(), &map);
    return result == 0 || tjGetErrorCode(m_handle) == TJERR_WARNING;
}

bool JpegDecoder::layOut(GstVideoFormat format, int width, int height, bool yuv)
{
    if (m_picture && GST_VIDEO_INFO_FORMAT(&m_info) == format &&
        GST_VIDEO_INFO_WIDTH(&m_info) == width && GST_VIDEO_INFO_HEIGHT(&m_info) == height)
        return true;
    m_picture.reset();
    if (!gst_video_info_set_format(&m_info, format, guint(width), guint(height)))
        return false;
    if (yuv) {
        // As the decoding element says of its pictures: full range, the
        // BT.601 matrix, chroma sited as JPEG has it.
        gst_video_colorimetry_from_string(&m_info.colorimetry, "1:4:0:0");
        m_info.chroma_site = GST_VIDEO_CHROMA_SITE_JPEG;
    }
    m_picture.reset(gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&m_info), nullptr));
    return bool(m_picture);
}
