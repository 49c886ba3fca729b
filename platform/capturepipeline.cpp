#include "capturepipeline.h"

#include "demosource.h"
#include "pixelformat.h"

#include <gst/video/video.h>

#include <cstring>
#include <string>

namespace
{

constexpr const char *SinkName = "orvellacapturesink";
constexpr const char *StopMessage = "orvella-capture-stop";

// Converts and scales whatever the source gives to the requested frame.
std::string convertingTail(int width, int height)
{
    return std::string("videoconvert ! videoscale ! video/x-raw,format=") + nativeArgbFormat() +
           ",width=" + std::to_string(width) + ",height=" + std::to_string(height) +
           " ! appsink name=" + SinkName;
}

// Parsers and factories hand out floating references; taking them over makes
// every element here plainly owned and released with gst_object_unref.
GstElement *owned(GstElement *element)
{
    return element ? GST_ELEMENT(gst_object_ref_sink(element)) : nullptr;
}

GstElement *parse(const std::string &description, bool asBin)
{
    GError *error = nullptr;
    GstElement *element =
        owned(asBin ? gst_parse_bin_from_description_full(description.c_str(), TRUE, nullptr,
                                                          GST_PARSE_FLAG_FATAL_ERRORS, &error)
                    : gst_parse_launch_full(description.c_str(), nullptr,
                                            GST_PARSE_FLAG_FATAL_ERRORS, &error));
    if (error) {
        g_error_free(error);
        if (element)
            gst_object_unref(element);
        return nullptr;
    }
    return element;
}

} // namespace

CapturePipeline::CapturePipeline(const SimpleCapParams &params)
    : m_buffer(params.buffer), m_width(params.width), m_height(params.height)
{
}

std::unique_ptr<CapturePipeline> CapturePipeline::open(const CaptureSource &source,
                                                       const SimpleCapParams &params,
                                                       std::chrono::milliseconds startTimeout)
{
    std::unique_ptr<CapturePipeline> pipeline(new CapturePipeline(params));
    if (!pipeline->build(source) || !pipeline->start(startTimeout))
        return nullptr;
    return pipeline;
}

CapturePipeline::~CapturePipeline()
{
    if (m_busWatcher.joinable()) {
        gst_bus_post(m_bus,
                     gst_message_new_application(nullptr, gst_structure_new_empty(StopMessage)));
        m_busWatcher.join();
    }
    if (m_pipeline) {
        // Returns once the streaming threads have left the pipeline, so no
        // frame can reach the buffer after this.
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_pipeline);
    }
    if (m_bus)
        gst_object_unref(m_bus);
    if (m_newest)
        gst_sample_unref(m_newest);
}

bool CapturePipeline::build(const CaptureSource &source)
{
    const std::string tail = convertingTail(m_width, m_height);
    if (source.kind == CaptureSource::Kind::Description) {
        // Parsed as one text so elements with pads that appear later, such as
        // decoders, are linked once their pads exist.
        m_pipeline = parse(source.description + " ! " + tail, false);
        if (m_pipeline && !GST_IS_PIPELINE(m_pipeline)) {
            gst_object_unref(m_pipeline);
            m_pipeline = nullptr;
        }
    } else {
        GstElement *input = owned(source.kind == CaptureSource::Kind::Demo
                                      ? makeDemoSource()
                                      : gst_device_create_element(source.device.get(), nullptr));
        GstElement *output = parse(tail, true);
        bool linked = false;
        if (input && output) {
            m_pipeline = owned(gst_pipeline_new(nullptr));
            gst_bin_add_many(GST_BIN(m_pipeline), input, output, nullptr);
            linked = gst_element_link(input, output);
        }
        if (input)
            gst_object_unref(input);
        if (output)
            gst_object_unref(output);
        if (m_pipeline && !linked) {
            gst_object_unref(m_pipeline);
            m_pipeline = nullptr;
        }
    }
    if (!m_pipeline)
        return false;

    GstElement *sink = gst_bin_get_by_name(GST_BIN(m_pipeline), SinkName);
    if (!sink)
        return false;
    // sync keeps files and generated sources at their own frame rate.
    g_object_set(sink, "sync", TRUE, "max-buffers", 1u, "drop", TRUE, "enable-last-sample", FALSE,
                 nullptr);
    GstAppSinkCallbacks callbacks = {};
    callbacks.new_sample = &CapturePipeline::onNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_object_unref(sink);
    return true;
}

bool CapturePipeline::start(std::chrono::milliseconds timeout)
{
    {
        // The streaming threads may be pooled ones that GStreamer hands work
        // to with locks of its own; they read this object's set-up under
        // m_mutex, so publish it through m_mutex as well.
        std::lock_guard<std::mutex> publish(m_mutex);
    }
    m_bus = gst_element_get_bus(m_pipeline);
    m_busWatcher = std::thread(&CapturePipeline::watchBus, this);
    if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return false;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_startedOrFailed.wait_for(lock, timeout, [this] { return m_frames > 0 || m_failed; });
    return m_frames > 0 && !m_failed;
}

void CapturePipeline::requestFrame()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done.store(false, std::memory_order_relaxed);
    m_requested = true;
    if (m_newest) {
        GstSample *sample = m_newest;
        m_newest = nullptr;
        takeSample(sample);
    }
}

GstFlowReturn CapturePipeline::onNewSample(GstAppSink *sink, gpointer self)
{
    GstSample *sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_OK;
    auto *pipeline = static_cast<CapturePipeline *>(self);
    std::lock_guard<std::mutex> lock(pipeline->m_mutex);
    ++pipeline->m_framesSinceRewind;
    if (pipeline->m_frames++ == 0)
        pipeline->m_startedOrFailed.notify_all();
    pipeline->takeSample(sample);
    return GST_FLOW_OK;
}

// Called with m_mutex held; takes over the reference to sample.
void CapturePipeline::takeSample(GstSample *sample)
{
    if (m_requested && copyToBuffer(sample)) {
        m_requested = false;
        m_done.store(true, std::memory_order_release);
        gst_sample_unref(sample);
        return;
    }
    if (m_newest)
        gst_sample_unref(m_newest);
    m_newest = sample;
}

bool CapturePipeline::copyToBuffer(GstSample *sample)
{
    GstCaps *caps = gst_sample_get_caps(sample);
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    GstVideoInfo info;
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps))
        return false;
    if (GST_VIDEO_INFO_WIDTH(&info) != m_width || GST_VIDEO_INFO_HEIGHT(&info) != m_height)
        return false;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ))
        return false;
    // Rows may be padded in the source; the caller's rows are back to back.
    const auto *source = static_cast<const guint8 *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    const std::size_t rowBytes = std::size_t(m_width) * sizeof(unsigned int);
    for (int y = 0; y < m_height; ++y)
        std::memcpy(m_buffer + std::size_t(y) * m_width, source + std::ptrdiff_t(y) * stride,
                    rowBytes);
    gst_video_frame_unmap(&frame);
    return true;
}

void CapturePipeline::fail()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failed = true;
    m_startedOrFailed.notify_all();
}

// Runs on its own thread for the life of the pipeline: restarts files at
// their end and notes errors, after which no more frames come.
void CapturePipeline::watchBus()
{
    const auto types =
        GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS | GST_MESSAGE_APPLICATION);
    for (;;) {
        GstMessage *message = gst_bus_timed_pop_filtered(m_bus, GST_CLOCK_TIME_NONE, types);
        if (!message)
            continue;
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_APPLICATION &&
            gst_message_has_name(message, StopMessage)) {
            gst_message_unref(message);
            return;
        }
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            fail();
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
            unsigned long played;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                played = m_framesSinceRewind;
                m_framesSinceRewind = 0;
            }
            // A source that ends without a single frame would only spin.
            const auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT);
            if (played == 0 || !gst_element_seek_simple(m_pipeline, GST_FORMAT_TIME, flags, 0))
                fail();
        }
        gst_message_unref(message);
    }
}
