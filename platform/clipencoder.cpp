#include "clipencoder.h"

#include "debianpackage.h"
#include "pipelineparts.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>

namespace
{

// Pictures waiting for the encoder before the camera's thread waits.
constexpr int QueuedPictures = 4;
// Bits per pixel and picture: plain H.264 at its fastest setting keeps a
// room's detail at this rate.
constexpr double BitsPerPixel = 0.2;
constexpr guint MinBitRate = 200000;
constexpr guint MaxBitRate = 8000000;

} // namespace

std::vector<std::string> ClipEncoder::encoders()
{
    const char *chosen = std::getenv("ORVELLA_CLIP_ENCODER");
    if (chosen && *chosen)
        return {chosen};
    return {"x264enc", "openh264enc"};
}

guint ClipEncoder::bitRate(int width, int height, double fps)
{
    const double bits = BitsPerPixel * width * height * fps;
    return guint(std::clamp(bits, double(MinBitRate), double(MaxBitRate)));
}

ClipEncoder::ClipEncoder(GstCaps *raw, Output output, std::function<void()> wake,
                         const std::string &encoder)
    : m_output(std::move(output)), m_wake(std::move(wake)), m_raw(gst_caps_ref(raw))
{
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, raw)) {
        m_error = "the camera's pictures are not raw video";
        return;
    }
    // A camera that does not say its rate (many web cameras) is taken as
    // the program's ten pictures a second.
    const double fps = GST_VIDEO_INFO_FPS_N(&info) > 0 && GST_VIDEO_INFO_FPS_D(&info) > 0
                           ? double(GST_VIDEO_INFO_FPS_N(&info)) / GST_VIDEO_INFO_FPS_D(&info)
                           : 10.0;

    m_pipeline = adoptElement(gst_pipeline_new(nullptr));
    m_source = addElement(m_pipeline.get(), "appsrc");
    GstElement *convert = addElement(m_pipeline.get(), "videoconvert");
    GstElement *planar = addElement(m_pipeline.get(), "capsfilter");
    GstElement *encode = nullptr;
    for (const std::string &name : encoder.empty() ? encoders() : std::vector<std::string>{encoder})
        if ((encode =
                 makeEncoder(name, GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info), fps)))
            break;
    if (encode)
        gst_bin_add(GST_BIN(m_pipeline.get()), encode);
    GstElement *parse = addElement(m_pipeline.get(), "h264parse");
    GstElement *packed = addElement(m_pipeline.get(), "capsfilter");
    GstElement *sink = addElement(m_pipeline.get(), "appsink");
    if (!encode) {
        const std::string package = packageForElement("x264enc");
        m_error =
            "no H.264 encoder" +
            (package.empty() ? std::string() : "; the Debian package " + package + " has one");
        return;
    }
    if (!m_source || !convert || !planar || !parse || !packed || !sink) {
        m_error = "GStreamer's videoconvert, h264parse or app elements are missing";
        return;
    }

    g_object_set(m_source, "caps", raw, "format", GST_FORMAT_TIME, "is-live", FALSE, "block", TRUE,
                 "max-bytes", guint64(GST_VIDEO_INFO_SIZE(&info)) * QueuedPictures, nullptr);
    g_autoptr(GstCaps) i420 =
        gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", nullptr);
    g_object_set(planar, "caps", i420, nullptr);
    // Parameter sets in the caps, as the MP4 muxer wants them.
    g_autoptr(GstCaps) avc = gst_caps_new_simple("video/x-h264", "stream-format", G_TYPE_STRING,
                                                 "avc", "alignment", G_TYPE_STRING, "au", nullptr);
    g_object_set(packed, "caps", avc, nullptr);
    g_object_set(sink, "sync", FALSE, "emit-signals", TRUE, "enable-last-sample", FALSE, nullptr);
    g_signal_connect(sink, "new-sample", G_CALLBACK(&ClipEncoder::onSample), this);
    if (!gst_element_link_many(m_source, convert, planar, encode, parse, packed, sink, nullptr)) {
        m_error = "the camera's pictures cannot be encoded by " + m_element;
        return;
    }
    m_bus.reset(gst_element_get_bus(m_pipeline.get()));
    gst_bus_set_sync_handler(m_bus.get(), &ClipEncoder::onMessage, this, nullptr);
    m_running =
        gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
}

ClipEncoder::~ClipEncoder()
{
    // Also ends a push that waits.
    if (m_pipeline)
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
    if (m_bus)
        gst_bus_set_sync_handler(m_bus.get(), nullptr, nullptr, nullptr);
}

GstElement *ClipEncoder::makeEncoder(const std::string &name, int width, int height, double fps)
{
    GstElement *element = gst_element_factory_make(name.c_str(), nullptr);
    if (!element)
        return nullptr;
    m_element = name;
    const guint bits = bitRate(width, height, fps);
    // push() forces a keyframe every second; the encoder's own limit, two
    // seconds' worth, only stands behind that.
    const guint group = guint(std::max(2.0, std::ceil(2 * fps)));
    if (name == "x264enc") {
        // One thread and no look-ahead: the cheapest per picture, and each
        // picture leaves as soon as it is in.
        gst_util_set_object_arg(G_OBJECT(element), "speed-preset", "ultrafast");
        gst_util_set_object_arg(G_OBJECT(element), "tune", "zerolatency");
        g_object_set(element, "threads", 1u, "bitrate", bits / 1000, "key-int-max", group, nullptr);
    } else if (name == "openh264enc") {
        gst_util_set_object_arg(G_OBJECT(element), "complexity", "low");
        gst_util_set_object_arg(G_OBJECT(element), "rate-control", "bitrate");
        g_object_set(element, "multi-thread", 1u, "bitrate", bits, "gop-size", group, nullptr);
    }
    return element;
}

// On the pipeline's threads: kept here, as the owner woken may look before
// the bus has queued the message.
GstBusSyncReply ClipEncoder::onMessage(GstBus *, GstMessage *message, gpointer data)
{
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR)
        return GST_BUS_DROP;
    auto *self = static_cast<ClipEncoder *>(data);
    g_autoptr(GError) error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    {
        std::lock_guard<std::mutex> lock(self->m_newsMutex);
        if (self->m_failure.empty())
            self->m_failure = self->m_element + ": " + (error ? error->message : "unknown error");
    }
    self->m_wake();
    return GST_BUS_DROP;
}

const std::string &ClipEncoder::error()
{
    if (m_error.empty()) {
        std::lock_guard<std::mutex> lock(m_newsMutex);
        m_error = m_failure;
    }
    return m_error;
}

bool ClipEncoder::accepts(GstCaps *raw) const
{
    return raw && gst_caps_is_equal(raw, m_raw.get());
}

void ClipEncoder::push(GstBuffer *picture, GstClockTime time)
{
    if (!m_running)
        return;
    if (GST_CLOCK_TIME_IS_VALID(m_lastTime) && time > m_lastTime) {
        m_steps[m_nextStep] = time - m_lastTime;
        m_nextStep = (m_nextStep + 1) % m_steps.size();
    }
    m_lastTime = time;
    // Forced on the last picture before more than a second would pass
    // since the keyframe, judged by the longest recent step. The request
    // goes just before the picture, in the order of the queue, and asks for
    // a keyframe at once: encoders here move their times by 1000 hours and
    // would misplace a request for a running time.
    const GstClockTime step = *std::max_element(m_steps.begin(), m_steps.end());
    if (!GST_CLOCK_TIME_IS_VALID(m_lastKey) || time < m_lastKey ||
        time + step > m_lastKey + GST_SECOND) {
        gst_element_send_event(m_source, gst_video_event_new_downstream_force_key_unit(
                                             GST_CLOCK_TIME_NONE, GST_CLOCK_TIME_NONE,
                                             GST_CLOCK_TIME_NONE, TRUE, ++m_keyCount));
        m_lastKey = time;
    }
    GstBuffer *copy = gst_buffer_copy(picture);
    GST_BUFFER_PTS(copy) = time;
    GST_BUFFER_DTS(copy) = GST_CLOCK_TIME_NONE;
    gst_app_src_push_buffer(GST_APP_SRC(m_source), copy);
}

GstFlowReturn ClipEncoder::onSample(GstElement *sink, gpointer data)
{
    auto *self = static_cast<ClipEncoder *>(data);
    SamplePtr sample(gst_app_sink_pull_sample(GST_APP_SINK(sink)));
    GstBuffer *picture = sample ? gst_sample_get_buffer(sample.get()) : nullptr;
    const GstSegment *segment = sample ? gst_sample_get_segment(sample.get()) : nullptr;
    if (!picture || !segment)
        return GST_FLOW_OK;
    // Encoders move their output segment (by 1000 hours) so that decoding
    // times never fall below zero; running times undo that.
    BufferPtr timed(gst_buffer_copy(picture));
    GST_BUFFER_PTS(timed.get()) =
        gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(picture));
    GST_BUFFER_DTS(timed.get()) =
        GST_BUFFER_DTS_IS_VALID(picture)
            ? gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_DTS(picture))
            : GST_CLOCK_TIME_NONE;
    self->m_output(gst_sample_get_caps(sample.get()), timed.get());
    return GST_FLOW_OK;
}
