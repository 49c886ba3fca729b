#include "jpegdecoder.h"

#include "pixelformat.h"

#include <turbojpeg.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <vector>

#include <jpeglib.h>

// A fatal error of the library jumps back to the decoding; warnings (a
// picture cut short, say) are let be, as they are for BGRA pictures.
// Outside the unnamed namespace, as a member of JpegDecoder::Planes.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

namespace
{

// Larger pictures are refused rather than given memory for.
constexpr int MaxSide = 16384;

[[noreturn]] void leave(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegErrors *>(info->err)->jump, 1);
}

void ignoreMessage(j_common_ptr, int) {}

void noOutput(j_common_ptr) {}

#if JPEG_LIB_VERSION >= 70
int scaledBlock(const jpeg_component_info &component)
{
    return component.DCT_v_scaled_size;
}
int smallestBlock(const jpeg_decompress_struct &info)
{
    return info.min_DCT_v_scaled_size;
}
#else
int scaledBlock(const jpeg_component_info &component)
{
    return component.DCT_scaled_size;
}
int smallestBlock(const jpeg_decompress_struct &info)
{
    return info.min_DCT_scaled_size;
}
#endif

// The planar layout of the library's planes at the output size, or UNKNOWN.
GstVideoFormat planarLayout(const jpeg_decompress_struct &info)
{
    const int width = int(info.output_width);
    const int height = int(info.output_height);
    const jpeg_component_info *c = info.comp_info;
    if (int(c[0].downsampled_width) != width || int(c[0].downsampled_height) != height)
        return GST_VIDEO_FORMAT_UNKNOWN;
    if (info.num_components == 1)
        return GST_VIDEO_FORMAT_GRAY8;
    const int chromaWidth = int(c[1].downsampled_width);
    const int chromaHeight = int(c[1].downsampled_height);
    if (c[2].downsampled_width != c[1].downsampled_width ||
        c[2].downsampled_height != c[1].downsampled_height)
        return GST_VIDEO_FORMAT_UNKNOWN;
    const int halfWidth = (width + 1) / 2;
    if (chromaWidth == width && chromaHeight == height)
        return GST_VIDEO_FORMAT_Y444;
    if (chromaWidth == halfWidth && chromaHeight == height)
        return GST_VIDEO_FORMAT_Y42B;
    if (chromaWidth == halfWidth && chromaHeight == (height + 1) / 2)
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

// The library's decompressor for decoding into planes.
struct JpegDecoder::Planes {
    jpeg_decompress_struct info;
    JpegErrors errors;
    bool created = false;
    // Rows of a pass that lie past a plane, or are wider than its stride.
    std::vector<JSAMPLE> scratch;

    Planes()
    {
        info.err = jpeg_std_error(&errors.manager);
        errors.manager.error_exit = leave;
        errors.manager.emit_message = ignoreMessage;
        errors.manager.output_message = noOutput;
        if (setjmp(errors.jump))
            return;
        jpeg_create_decompress(&info);
        created = true;
    }
    ~Planes()
    {
        if (created)
            jpeg_destroy_decompress(&info);
    }
};

JpegDecoder::JpegDecoder() : m_handle(tjInitDecompress()), m_planes(new Planes)
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

    if (colourSpace == TJCS_GRAY || colourSpace == TJCS_YCbCr) {
        const int planes = decodePlanes(data, size, factor.denom);
        if (planes >= 0)
            return planes == 1;
    }
    if (!layOut(nativeArgbVideoFormat(), scaledWidth, scaledHeight, false))
        return false;
    GstMapInfo map;
    if (!gst_buffer_map(m_picture.get(), &map, GST_MAP_WRITE))
        return false;
    const int result = tjDecompress2(
        m_handle, jpeg, size, map.data, scaledWidth, GST_VIDEO_INFO_PLANE_STRIDE(&m_info, 0),
        scaledHeight, G_BYTE_ORDER == G_LITTLE_ENDIAN ? TJPF_BGRA : TJPF_ARGB, TJFLAG_FASTDCT);
    gst_buffer_unmap(m_picture.get(), &map);
    return result == 0 || tjGetErrorCode(m_handle) == TJERR_WARNING;
}

// Every pass of the library gives each component's next rows, whole blocks
// wide; they are written straight into the picture's planes where they fit.
// Nothing here may need destroying when the library jumps back.
int JpegDecoder::decodePlanes(const guint8 *data, gsize size, int denominator)
{
    if (!m_planes->created)
        return -1;
    jpeg_decompress_struct &info = m_planes->info;
    GstMapInfo map;
    volatile bool mapped = false;
    if (setjmp(m_planes->errors.jump)) {
        if (mapped)
            gst_buffer_unmap(m_picture.get(), &map);
        jpeg_abort_decompress(&info);
        return 0;
    }
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_abort_decompress(&info);
        return 0;
    }
    // The same settings as the decoding element's and the BGRA pictures':
    // the fast integer transform.
    info.raw_data_out = TRUE;
    info.dct_method = JDCT_IFAST;
    info.scale_num = 1;
    info.scale_denom = unsigned(denominator);
    jpeg_calc_output_dimensions(&info);
    const GstVideoFormat format =
        (info.jpeg_color_space == JCS_GRAYSCALE && info.num_components == 1) ||
                (info.jpeg_color_space == JCS_YCbCr && info.num_components == 3)
            ? planarLayout(info)
            : GST_VIDEO_FORMAT_UNKNOWN;
    if (format == GST_VIDEO_FORMAT_UNKNOWN) {
        jpeg_abort_decompress(&info);
        return -1;
    }
    if (!layOut(format, int(info.output_width), int(info.output_height), true)) {
        jpeg_abort_decompress(&info);
        return 0;
    }

    jpeg_start_decompress(&info);
    if (!gst_buffer_map(m_picture.get(), &map, GST_MAP_WRITE))
        leave(reinterpret_cast<j_common_ptr>(&info));
    mapped = true;
    // Each component's rows of a pass, their width in whole blocks, and
    // its plane; rows wider than the plane's stride go through scratch.
    const int components = info.num_components;
    int passRows[3], rowWidth[3], stride[3], height[3];
    guint8 *plane[3];
    JSAMPLE *scratch[3];
    bool fits[3];
    std::size_t scratchSize = 0;
    for (int c = 0; c < components; ++c) {
        const jpeg_component_info &component = info.comp_info[c];
        passRows[c] = component.v_samp_factor * scaledBlock(component);
        rowWidth[c] = int(component.width_in_blocks) * scaledBlock(component);
        if (passRows[c] > 4 * DCTSIZE)
            leave(reinterpret_cast<j_common_ptr>(&info));
        stride[c] = GST_VIDEO_INFO_COMP_STRIDE(&m_info, c);
        height[c] = GST_VIDEO_INFO_COMP_HEIGHT(&m_info, c);
        plane[c] = map.data + GST_VIDEO_INFO_COMP_OFFSET(&m_info, c);
        fits[c] = rowWidth[c] <= stride[c];
        scratchSize += std::size_t(passRows[c]) * std::size_t(rowWidth[c]);
    }
    if (m_planes->scratch.size() < scratchSize)
        m_planes->scratch.resize(scratchSize);
    for (int c = 0, at = 0; c < components; at += passRows[c] * rowWidth[c], ++c)
        scratch[c] = m_planes->scratch.data() + at;

    JSAMPROW rows[3][4 * DCTSIZE];
    JSAMPARRAY passes[3] = {rows[0], rows[1], rows[2]};
    const JDIMENSION lines = JDIMENSION(info.max_v_samp_factor * smallestBlock(info));
    for (int first[3] = {}; info.output_scanline < info.output_height;) {
        for (int c = 0; c < components; ++c)
            for (int r = 0, y = first[c]; r < passRows[c]; ++r, ++y)
                rows[c][r] = fits[c] && y < height[c]
                                 ? plane[c] + std::size_t(y) * std::size_t(stride[c])
                                 : scratch[c] + std::size_t(r) * std::size_t(rowWidth[c]);
        if (jpeg_read_raw_data(&info, passes, lines) == 0)
            leave(reinterpret_cast<j_common_ptr>(&info));
        for (int c = 0; c < components; ++c) {
            for (int r = 0, y = first[c]; !fits[c] && r < passRows[c] && y < height[c]; ++r, ++y)
                std::memcpy(plane[c] + std::size_t(y) * std::size_t(stride[c]), rows[c][r],
                            std::size_t(GST_VIDEO_INFO_COMP_WIDTH(&m_info, c)));
            first[c] += passRows[c];
        }
    }
    jpeg_finish_decompress(&info);
    mapped = false;
    gst_buffer_unmap(m_picture.get(), &map);
    return 1;
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
