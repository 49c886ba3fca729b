#include "clipdecoder.h"

#include "frameconverter.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <atomic>
#include <cstring>
#include <vector>

namespace
{

// How long one wait for a frame lasts before the bus is looked at again.
const GstClockTime pollInterval = 100 * GST_MSECOND;

// Frames leave the pipeline as the capture library takes them: raw video in
// whatever format the decoder gives, in plain memory, or JPEG pictures
// undecoded. The library's own frame converter makes the 480 x 320 frame of
// either, so a clip scanned and the same clip played as a camera give the
// very same frames.
const char *const frameCaps = "video/x-raw; image/jpeg";

QString uriFor(const QString &source)
{
    if (QUrl(source).scheme().size() > 1)
        return source; // an address; one letter is a Windows drive
    return QUrl::fromLocalFile(QFileInfo(source).absoluteFilePath()).toString(QUrl::FullyEncoded);
}

} // namespace

struct ClipDecoder::Pipeline {
    GstElement *pipeline = nullptr;
    GstAppSink *sink = nullptr;
    std::vector<unsigned int> words =
        std::vector<unsigned int>(std::size_t(frameWidth) * std::size_t(frameHeight));
    std::unique_ptr<FrameConverter> converter; // made once GStreamer runs
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

// Raw video into the frame sink through a converter to plain memory, JPEG
// pictures straight; true when linked.
bool linkToFrames(ClipDecoder::Pipeline *p, GstPad *pad, bool jpeg)
{
    GstElement *sink = GST_ELEMENT(p->sink);
    GstPad *target = nullptr;
    if (jpeg) {
        target = gst_element_get_static_pad(sink, "sink");
    } else {
        GstElement *convert = gst_element_factory_make("videoconvert", nullptr);
        GstElement *plain = gst_element_factory_make("capsfilter", nullptr);
        if (!convert || !plain) {
            if (convert)
                gst_object_unref(gst_object_ref_sink(convert));
            if (plain)
                gst_object_unref(gst_object_ref_sink(plain));
            return false;
        }
        GstCaps *raw = gst_caps_new_empty_simple("video/x-raw");
        g_object_set(plain, "caps", raw, nullptr);
        gst_caps_unref(raw);
        gst_bin_add_many(GST_BIN(p->pipeline), convert, plain, nullptr);
        if (!gst_element_link_many(convert, plain, sink, nullptr))
            return false;
        gst_element_sync_state_with_parent(plain);
        gst_element_sync_state_with_parent(convert);
        target = gst_element_get_static_pad(convert, "sink");
    }
    const bool linked = gst_pad_link(pad, target) == GST_PAD_LINK_OK;
    gst_object_unref(target);
    return linked;
}

// The first video stream goes to the frame sink; sound and further streams
// drain into sinks of their own so they never hold the clip up.
void onPadAdded(GstElement *, GstPad *pad, gpointer data)
{
    auto *p = static_cast<ClipDecoder::Pipeline *>(data);
    GstCaps *caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const gchar *type = caps && gst_caps_get_size(caps) > 0
                            ? gst_structure_get_name(gst_caps_get_structure(caps, 0))
                            : "";
    const bool jpeg = std::strcmp(type, "image/jpeg") == 0;
    const bool video = jpeg || g_str_has_prefix(type, "video/");
    if (video && !p->videoLinked.exchange(true)) {
        const bool linked = linkToFrames(p, pad, jpeg);
        if (caps)
            gst_caps_unref(caps);
        if (linked)
            return;
        p->videoLinked = false;
    } else if (caps) {
        gst_caps_unref(caps);
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

    p.converter.reset(new FrameConverter(p.words.data(), frameWidth, frameHeight));
    GstElement *decoder = gst_element_factory_make("uridecodebin", nullptr);
    GstElement *sink = gst_element_factory_make("appsink", "frames");
    if (!decoder || !sink) {
        p.error =
            QString("a GStreamer element is missing: ") + (decoder ? "appsink" : "uridecodebin");
        if (decoder)
            gst_object_unref(gst_object_ref_sink(decoder));
        if (sink)
            gst_object_unref(gst_object_ref_sink(sink));
        return false;
    }
    p.pipeline = gst_pipeline_new("scan");
    gst_bin_add_many(GST_BIN(p.pipeline), decoder, sink, nullptr);
    // The decoder stops at JPEG pictures as well as raw video.
    GstCaps *raw = nullptr;
    g_object_get(decoder, "caps", &raw, nullptr);
    GstCaps *stop = raw ? gst_caps_copy(raw) : gst_caps_new_empty();
    gst_caps_append(stop, gst_caps_new_empty_simple("image/jpeg"));
    g_object_set(decoder, "uri", uriFor(source).toUtf8().constData(), "caps", stop, nullptr);
    gst_caps_unref(stop);
    if (raw)
        gst_caps_unref(raw);
    g_signal_connect(decoder, "pad-added", G_CALLBACK(onPadAdded), &p);
    g_signal_connect(decoder, "no-more-pads", G_CALLBACK(onNoMorePads), &p);
    p.sink = GST_APP_SINK(gst_object_ref(sink));
    GstCaps *frames = gst_caps_from_string(frameCaps);
    g_object_set(p.sink, "caps", frames, "max-buffers", 8u, "drop", FALSE, "sync",
                 realtime ? TRUE : FALSE, nullptr);
    gst_caps_unref(frames);
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

    GstBuffer *buffer = gst_sample_get_buffer(sample);
    const bool ok = buffer && p.converter->convert(sample);
    if (ok) {
        QImage image(frameWidth, frameHeight, QImage::Format_ARGB32);
        const std::size_t rowBytes = std::size_t(frameWidth) * sizeof(unsigned int);
        for (int y = 0; y < frameHeight; ++y)
            std::memcpy(image.scanLine(y), p.words.data() + std::size_t(y) * frameWidth, rowBytes);
        *frame = image;
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
