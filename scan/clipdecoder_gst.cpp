#include "clipdecoder.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <atomic>
#include <cstring>

namespace
{

// How long one wait for a frame lasts before the bus is looked at again.
const GstClockTime pollInterval = 100 * GST_MSECOND;

// The camera path's frame: scaled in the source's own format with the stock
// bilinear scaler, then converted to native 0xAARRGGBB words.
QString tailDescription()
{
    const char *format = G_BYTE_ORDER == G_LITTLE_ENDIAN ? "BGRA" : "ARGB";
    return QString("videoscale ! video/x-raw,width=%1,height=%2 ! videoconvert ! "
                   "video/x-raw,format=%3 ! appsink name=frames max-buffers=8 drop=false")
        .arg(ClipDecoder::frameWidth)
        .arg(ClipDecoder::frameHeight)
        .arg(format);
}

QString uriFor(const QString &source)
{
    if (QUrl(source).scheme().size() > 1)
        return source; // an address; one letter is a Windows drive
    return QUrl::fromLocalFile(QFileInfo(source).absoluteFilePath()).toString(QUrl::FullyEncoded);
}

} // namespace

struct ClipDecoder::Pipeline {
    GstElement *pipeline = nullptr;
    GstElement *tail = nullptr;
    GstAppSink *sink = nullptr;
    GstBus *bus = nullptr;
    QString error;
    std::atomic<bool> videoLinked{false};
    std::atomic<bool> noVideo{false}; // the decoder exposed every stream, none of them video
    bool failed = false;
    bool ended = false; // every sink has its end of stream
    qint64 frames = 0;
    qint64 lastTimeMs = -1;

    ~Pipeline()
    {
        if (pipeline)
            gst_element_set_state(pipeline, GST_STATE_NULL);
        if (sink)
            gst_object_unref(sink);
        if (bus)
            gst_object_unref(bus);
        if (pipeline)
            gst_object_unref(pipeline);
    }

    // Takes whatever the bus holds; false once decoding failed.
    bool readBus()
    {
        while (GstMessage *message = gst_bus_pop(bus)) {
            switch (GST_MESSAGE_TYPE(message)) {
            case GST_MESSAGE_ERROR:
                if (error.isEmpty()) {
                    GError *gerror = nullptr;
                    gst_message_parse_error(message, &gerror, nullptr);
                    error = QString::fromUtf8(gerror ? gerror->message : "unknown error");
                    g_clear_error(&gerror);
                }
                failed = true;
                break;
            case GST_MESSAGE_EOS:
                ended = true;
                break;
            default:
                break;
            }
            gst_message_unref(message);
        }
        return !failed;
    }
};

namespace
{

// The first video stream goes to the converting tail; sound and further
// streams drain into sinks of their own so they never hold the clip up.
void onPadAdded(GstElement *, GstPad *pad, gpointer data)
{
    auto *p = static_cast<ClipDecoder::Pipeline *>(data);
    GstCaps *caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const bool video =
        caps && gst_caps_get_size(caps) > 0 &&
        g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "video/");
    if (caps)
        gst_caps_unref(caps);
    if (video && !p->videoLinked) {
        GstPad *sinkPad = gst_element_get_static_pad(p->tail, "sink");
        p->videoLinked = gst_pad_link(pad, sinkPad) == GST_PAD_LINK_OK;
        gst_object_unref(sinkPad);
        if (p->videoLinked)
            return;
    }
    GstElement *drain = gst_element_factory_make("fakesink", nullptr);
    if (!drain)
        return;
    g_object_set(drain, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(p->pipeline), drain);
    gst_element_sync_state_with_parent(drain);
    GstPad *drainPad = gst_element_get_static_pad(drain, "sink");
    gst_pad_link(pad, drainPad);
    gst_object_unref(drainPad);
}

// The frame sink would wait for ever for a clip without pictures.
void onNoMorePads(GstElement *, gpointer data)
{
    auto *p = static_cast<ClipDecoder::Pipeline *>(data);
    if (!p->videoLinked)
        p->noVideo = true;
}

} // namespace

ClipDecoder::ClipDecoder() = default;

ClipDecoder::~ClipDecoder() = default;

bool ClipDecoder::open(const QString &source, bool realtime)
{
    pipeline.reset(new Pipeline);
    Pipeline &p = *pipeline;
    GError *gerror = nullptr;
    if (!gst_init_check(nullptr, nullptr, &gerror)) {
        p.error = QString("GStreamer could not start: ") +
                  QString::fromUtf8(gerror ? gerror->message : "unknown error");
        g_clear_error(&gerror);
        return false;
    }
    if (QUrl(source).scheme().size() <= 1 && !QFileInfo(source).isFile()) {
        p.error = QFileInfo::exists(source) ? "not a file" : "no such file";
        return false;
    }

    GstElement *decoder = gst_element_factory_make("uridecodebin", nullptr);
    p.tail = gst_parse_bin_from_description(tailDescription().toUtf8().constData(), TRUE, &gerror);
    if (!decoder || !p.tail) {
        p.error = QString("a GStreamer element is missing: ") +
                  QString::fromUtf8(gerror ? gerror->message : "uridecodebin");
        g_clear_error(&gerror);
        if (decoder)
            gst_object_unref(gst_object_ref_sink(decoder));
        if (p.tail)
            gst_object_unref(gst_object_ref_sink(p.tail));
        p.tail = nullptr;
        return false;
    }
    p.pipeline = gst_pipeline_new("scan");
    gst_bin_add_many(GST_BIN(p.pipeline), decoder, p.tail, nullptr);
    g_object_set(decoder, "uri", uriFor(source).toUtf8().constData(), nullptr);
    g_signal_connect(decoder, "pad-added", G_CALLBACK(onPadAdded), &p);
    g_signal_connect(decoder, "no-more-pads", G_CALLBACK(onNoMorePads), &p);
    p.sink = GST_APP_SINK(gst_bin_get_by_name(GST_BIN(p.tail), "frames"));
    g_object_set(p.sink, "sync", realtime ? TRUE : FALSE, nullptr);
    p.bus = gst_element_get_bus(p.pipeline);

    if (gst_element_set_state(p.pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        p.readBus();
        if (p.error.isEmpty())
            p.error = "it cannot be played";
        return false;
    }
    return true;
}

bool ClipDecoder::next(QImage *frame, qint64 *timeMs)
{
    if (!pipeline || !pipeline->sink)
        return false;
    Pipeline &p = *pipeline;
    GstSample *sample = nullptr;
    // The frames still queued come first; the pipeline's end of stream
    // means the frame sink has had its own.
    while (!sample && p.readBus() && !p.noVideo) {
        sample = gst_app_sink_try_pull_sample(p.sink, pollInterval);
        if (!sample && (p.ended || gst_app_sink_is_eos(p.sink)))
            break;
    }
    if (!sample) {
        // A clip that ends before its first frame could not be played.
        if (p.error.isEmpty() && p.frames == 0)
            p.error = p.videoLinked ? "it has no pictures" : "it has no video";
        return false;
    }

    bool ok = false;
    GstVideoInfo info;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    GstCaps *caps = gst_sample_get_caps(sample);
    if (buffer && caps && gst_video_info_from_caps(&info, caps) &&
        GST_VIDEO_INFO_WIDTH(&info) == frameWidth && GST_VIDEO_INFO_HEIGHT(&info) == frameHeight) {
        GstVideoFrame mapped;
        if (gst_video_frame_map(&mapped, &info, buffer, GST_MAP_READ)) {
            QImage image(frameWidth, frameHeight, QImage::Format_ARGB32);
            const auto *pixels = static_cast<const uchar *>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, 0));
            const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, 0);
            for (int y = 0; y < frameHeight; ++y)
                std::memcpy(image.scanLine(y), pixels + y * stride, frameWidth * 4);
            gst_video_frame_unmap(&mapped);
            *frame = image;
            ok = true;
        }
    }
    if (ok) {
        // Times in the clip; a frame without one follows the last.
        const GstSegment *segment = gst_sample_get_segment(sample);
        const GstClockTime pts = GST_BUFFER_PTS(buffer);
        guint64 streamTime = GST_CLOCK_TIME_NONE;
        if (GST_CLOCK_TIME_IS_VALID(pts))
            streamTime = segment ? gst_segment_to_stream_time(segment, GST_FORMAT_TIME, pts) : pts;
        qint64 ms = GST_CLOCK_TIME_IS_VALID(streamTime) ? qint64(streamTime / GST_MSECOND)
                                                        : p.lastTimeMs + 1;
        if (ms < p.lastTimeMs)
            ms = p.lastTimeMs;
        p.lastTimeMs = ms;
        *timeMs = ms;
        ++p.frames;
    } else {
        p.error = "a frame came in a form that could not be read";
    }
    gst_sample_unref(sample);
    return ok;
}

QString ClipDecoder::error() const
{
    return pipeline ? pipeline->error : QString();
}

qint64 ClipDecoder::statedDurationMs() const
{
    gint64 duration = -1;
    if (!pipeline || !pipeline->pipeline ||
        !gst_element_query_duration(pipeline->pipeline, GST_FORMAT_TIME, &duration) || duration < 0)
        return -1;
    return qint64(duration / GST_MSECOND);
}
