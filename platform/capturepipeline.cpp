#include "capturepipeline.h"

#include "capturereport.h"
#include "debianpackage.h"
#include "demosource.h"
#include "pixelformat.h"

#include <gst/pbutils/missing-plugins.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace
{

constexpr const char *SinkName = "orvellacapturesink";
constexpr const char *StopMessage = "orvella-capture-stop";
// Low enough for a watch, high enough for a camera on a busy network.
constexpr guint RtspLatencyMs = 200;
// Without a UDP packet for this long, the RTSP source tries TCP.
constexpr guint64 RtspUdpTimeoutUs = 2 * G_USEC_PER_SEC;
// A web camera that stops sending for this long counts as lost.
constexpr guint HttpTimeoutS = 3;

// Hands the source's frames on as they come, in any raw format. Scaling and
// colour conversion are left for the frames the caller takes, which are
// fewer than the source gives.
std::string sinkTail()
{
    return std::string("videoconvert ! video/x-raw ! appsink name=") + SinkName;
}

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

GstPadProbeReturn offerVideoMeta(GstPad *, GstPadProbeInfo *info, gpointer)
{
    GstQuery *query = GST_PAD_PROBE_INFO_QUERY(info);
    if (GST_QUERY_TYPE(query) == GST_QUERY_ALLOCATION &&
        !gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr))
        gst_query_add_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
    return GST_PAD_PROBE_OK;
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

// "2 s", "0.5 s"
std::string seconds(std::chrono::milliseconds duration)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g s", duration.count() / 1000.0);
    return text;
}

std::string packageHint(const std::string &package)
{
    return package.empty() ? std::string() : "; the Debian package " + package + " provides it";
}

ElementPtr parse(const std::string &description, bool asBin, std::string &reason)
{
    g_autoptr(GError) error = nullptr;
    g_autoptr(GstParseContext) context = gst_parse_context_new();
    ElementPtr element = adoptElement(
        asBin ? gst_parse_bin_from_description_full(description.c_str(), TRUE, context,
                                                    GST_PARSE_FLAG_FATAL_ERRORS, &error)
              : gst_parse_launch_full(description.c_str(), context, GST_PARSE_FLAG_FATAL_ERRORS,
                                      &error));
    if (error) {
        reason = error->message;
        g_auto(GStrv) missing =
            g_error_matches(error, GST_PARSE_ERROR, GST_PARSE_ERROR_NO_SUCH_ELEMENT)
                ? gst_parse_context_get_missing_elements(context)
                : nullptr;
        if (missing && missing[0])
            reason += packageHint(packageForElement(missing[0]));
        element.reset();
    }
    return element;
}

// What a missing-plugin message asks for, with the package that has it.
std::string describeMissing(GstMessage *message)
{
    g_autofree gchar *description = gst_missing_plugin_message_get_description(message);
    std::string text = description ? description : "a plug-in";
    const GstStructure *s = gst_message_get_structure(message);
    const gchar *type = gst_structure_get_string(s, "type");
    std::string package;
    if (type && std::strcmp(type, "element") == 0) {
        if (const gchar *factory = gst_structure_get_string(s, "detail"))
            package = packageForElement(factory);
    } else if (type && std::strcmp(type, "decoder") == 0) {
        g_autoptr(GstCaps) caps = nullptr;
        gst_structure_get(s, "detail", GST_TYPE_CAPS, &caps, nullptr);
        if (caps && gst_caps_get_size(caps) > 0)
            package = packageForDecoder(gst_structure_get_name(gst_caps_get_structure(caps, 0)));
    }
    return text + packageHint(package);
}

// Links the decoder's first video stream to the converting tail; other
// streams (sound, more video) drain into sinks of their own so they never
// hold the pipeline up.
void onPadAdded(GstElement *decoder, GstPad *pad, gpointer tail)
{
    g_autoptr(GstCaps) caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const bool video =
        caps && gst_caps_get_size(caps) > 0 &&
        g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "video/");
    if (video) {
        g_autoptr(GstPad) sink = gst_element_get_static_pad(GST_ELEMENT(tail), "sink");
        if (sink && !gst_pad_is_linked(sink) && gst_pad_link(pad, sink) == GST_PAD_LINK_OK)
            return;
    }
    g_autoptr(GstObject) bin = gst_element_get_parent(decoder);
    ElementPtr drain = adoptElement(gst_element_factory_make("fakesink", nullptr));
    if (!bin || !drain)
        return;
    g_object_set(drain.get(), "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(bin), GST_ELEMENT(gst_object_ref(drain.get())));
    gst_element_sync_state_with_parent(drain.get());
    g_autoptr(GstPad) drainPad = gst_element_get_static_pad(drain.get(), "sink");
    gst_pad_link(pad, drainPad);
}

// Tunes the network source the decoder picked for the address.
void onSourceSetup(GstElement *, GstElement *source, gpointer)
{
    GstElementFactory *factory = gst_element_get_factory(source);
    const gchar *name = factory ? GST_OBJECT_NAME(factory) : "";
    if (std::strcmp(name, "rtspsrc") == 0) {
        // UDP first; TCP when no packet arrives in time.
        g_object_set(source, "latency", RtspLatencyMs, "drop-on-latency", TRUE, "timeout",
                     RtspUdpTimeoutUs, nullptr);
    } else if (std::strcmp(name, "souphttpsrc") == 0) {
        // Reconnecting is done for the whole pipeline, where it is reported.
        g_object_set(source, "timeout", HttpTimeoutS, "retries", 0, nullptr);
        g_autofree gchar *location = nullptr;
        g_object_get(source, "location", &location, nullptr);
        g_autoptr(GstUri) uri = location ? gst_uri_from_string(location) : nullptr;
        const gchar *userinfo = uri ? gst_uri_get_userinfo(uri) : nullptr;
        if (userinfo) {
            g_auto(GStrv) parts = g_strsplit(userinfo, ":", 2);
            g_autofree gchar *user = g_uri_unescape_string(parts[0], nullptr);
            g_autofree gchar *password =
                parts[1] ? g_uri_unescape_string(parts[1], nullptr) : nullptr;
            g_object_set(source, "user-id", user, "user-pw", password, nullptr);
        }
    }
}

// A web camera's multipart stream never announces that no more streams
// follow, and the decoder waits for that before it plays: say so up front.
void onElementAdded(GstBin *, GstBin *, GstElement *element, gpointer)
{
    GstElementFactory *factory = gst_element_get_factory(element);
    if (factory && std::strcmp(GST_OBJECT_NAME(factory), "multipartdemux") == 0)
        g_object_set(element, "single-stream", TRUE, nullptr);
}

// Carries the pipeline generation to the frame callback, so frames of a
// pipeline being torn down are not taken for the new one's.
struct SinkLink {
    void *pipeline;
    unsigned generation;
};

void freeLink(gpointer link)
{
    delete static_cast<SinkLink *>(link);
}

} // namespace

CapturePipeline::CapturePipeline(const CaptureSource &source, const SimpleCapParams &params,
                                 Timing timing)
    : m_source(source), m_buffer(params.buffer), m_width(params.width), m_height(params.height),
      m_timing(timing)
{
    // The caller's buffer seen as a GStreamer buffer, for the converter to
    // write into; it stays the caller's.
    const gsize size = gsize(m_width) * gsize(m_height) * sizeof(unsigned int);
    m_target.reset(
        gst_buffer_new_wrapped_full(GstMemoryFlags(0), m_buffer, size, 0, size, nullptr, nullptr));
}

std::unique_ptr<CapturePipeline> CapturePipeline::open(const CaptureSource &source,
                                                       const SimpleCapParams &params, Timing timing)
{
    std::unique_ptr<CapturePipeline> pipeline(new CapturePipeline(source, params, timing));
    std::string reason;
    if (!pipeline->start(reason)) {
        reportLine("camera \"" + source.name + "\" did not start: " + reason);
        return nullptr;
    }
    return pipeline;
}

CapturePipeline::~CapturePipeline()
{
    if (m_watcher.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
            if (m_bus)
                gst_bus_post(m_bus.get(), gst_message_new_application(
                                              nullptr, gst_structure_new_empty(StopMessage)));
            m_changed.notify_all();
        }
        m_watcher.join();
    }
    // Returns once the streaming threads have left the pipeline, so no
    // frame can reach the buffer after this.
    if (m_pipeline)
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
}

ElementPtr CapturePipeline::build(unsigned generation, std::string &reason)
{
    const std::string tail = sinkTail();
    ElementPtr pipeline;
    if (m_source.kind == CaptureSource::Kind::Description) {
        // Parsed as one text so elements with pads that appear later, such as
        // decoders, are linked once their pads exist.
        pipeline = parse(m_source.description + " ! " + tail, false, reason);
        if (pipeline && !GST_IS_PIPELINE(pipeline.get())) {
            reason = "the description is not a pipeline";
            pipeline.reset();
        }
    } else {
        ElementPtr input;
        if (m_source.kind == CaptureSource::Kind::Demo) {
            input = adoptElement(makeDemoSource());
        } else if (m_source.kind == CaptureSource::Kind::Uri) {
            input = adoptElement(gst_element_factory_make("uridecodebin", nullptr));
            if (input)
                g_object_set(input.get(), "uri", m_source.description.c_str(), nullptr);
            else
                reason =
                    "no element \"uridecodebin\"" + packageHint(packageForElement("uridecodebin"));
        } else {
            // A camera unplugged and plugged in again, while open or since
            // it was listed, may sit under another node now.
            std::shared_ptr<GstDevice> device = findCamera(m_source);
            if (device)
                m_source.device = device;
            else
                device = m_source.device;
            if (device)
                input = adoptElement(gst_device_create_element(device.get(), nullptr));
            if (!input)
                reason = "the camera is not attached";
        }
        ElementPtr output = parse(tail, true, reason);
        if (!input || !output)
            return nullptr;
        pipeline = adoptElement(gst_pipeline_new(nullptr));
        gst_bin_add_many(GST_BIN(pipeline.get()), GST_ELEMENT(gst_object_ref(input.get())),
                         GST_ELEMENT(gst_object_ref(output.get())), nullptr);
        if (m_source.kind == CaptureSource::Kind::Uri) {
            g_signal_connect(input.get(), "pad-added", G_CALLBACK(onPadAdded), output.get());
            g_signal_connect(input.get(), "source-setup", G_CALLBACK(onSourceSetup), nullptr);
            g_signal_connect(input.get(), "deep-element-added", G_CALLBACK(onElementAdded),
                             nullptr);
        } else if (!gst_element_link(input.get(), output.get())) {
            reason = "the source gives no video the converter takes";
            return nullptr;
        }
    }
    if (!pipeline)
        return nullptr;

    g_autoptr(GstElement) sink = gst_bin_get_by_name(GST_BIN(pipeline.get()), SinkName);
    if (!sink) {
        reason = "the description names an element \"" + std::string(SinkName) + "\"";
        return nullptr;
    }
    // sync keeps files and generated sources at their own frame rate.
    g_object_set(sink, "sync", TRUE, "max-buffers", 1u, "drop", TRUE, "enable-last-sample", FALSE,
                 nullptr);
    // Frames are read through their video meta, so a decoder may hand over
    // its own picture with whatever strides it has instead of copying it.
    g_autoptr(GstPad) sinkPad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(sinkPad, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, offerVideoMeta, nullptr,
                      nullptr);
    GstAppSinkCallbacks callbacks = {};
    callbacks.new_sample = &CapturePipeline::onNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, new SinkLink{this, generation},
                               freeLink);
    return pipeline;
}

bool CapturePipeline::play(ElementPtr pipeline)
{
    BusPtr bus(gst_element_get_bus(pipeline.get()));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return false;
        m_bus = std::move(bus);
    }
    m_pipeline = std::move(pipeline);
    m_missing.clear();
    return gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
}

bool CapturePipeline::start(std::string &reason)
{
    unsigned generation;
    {
        // The streaming threads may be pooled ones that GStreamer hands work
        // to with locks of its own; they read this object's set-up under
        // m_mutex, so publish it through m_mutex as well.
        std::lock_guard<std::mutex> lock(m_mutex);
        generation = ++m_generation;
    }
    ElementPtr pipeline = build(generation, reason);
    if (!pipeline)
        return false;
    const bool playing = play(std::move(pipeline));
    m_watcher = std::thread(&CapturePipeline::watch, this);

    // A pipeline that refused to play has posted its reason on the bus.
    const auto wait =
        playing ? m_timing.start : std::min(m_timing.start, std::chrono::milliseconds(1000));
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, wait, [this] { return m_frames > 0 || m_failed; });
    if (m_frames > 0 && !m_failed) {
        m_running = true;
        return true;
    }
    if (!m_reason.empty())
        reason = m_reason;
    else if (!playing)
        reason = "the pipeline refused to play";
    else
        reason = "no picture within " + seconds(m_timing.start);
    return false;
}

void CapturePipeline::requestFrame()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done.store(false, std::memory_order_relaxed);
    m_requested = true;
    if (m_newest)
        takeSample(std::move(m_newest));
}

GstFlowReturn CapturePipeline::onNewSample(GstAppSink *sink, gpointer data)
{
    SamplePtr sample(gst_app_sink_pull_sample(sink));
    if (!sample)
        return GST_FLOW_OK;
    const auto *link = static_cast<const SinkLink *>(data);
    auto *self = static_cast<CapturePipeline *>(link->pipeline);
    bool back = false;
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        if (link->generation != self->m_generation)
            return GST_FLOW_OK;
        ++self->m_framesSinceRewind;
        if (self->m_frames++ == 0)
            self->m_changed.notify_all();
        back = self->m_outage;
        self->m_outage = false;
        self->takeSample(std::move(sample));
    }
    if (back)
        reportLine("camera \"" + self->m_source.name + "\" is running again");
    return GST_FLOW_OK;
}

// Called with m_mutex held.
void CapturePipeline::takeSample(SamplePtr sample)
{
    if (m_requested && copyToBuffer(sample.get())) {
        m_requested = false;
        m_done.store(true, std::memory_order_release);
        return;
    }
    m_newest = std::move(sample);
}

bool CapturePipeline::copyToBuffer(GstSample *sample)
{
    GstCaps *caps = gst_sample_get_caps(sample);
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer)
        return false;
    // A stream keeps its caps, mostly the very same object: the frame layout
    // is read from them only when they change.
    if (!m_converter || !m_convertCaps || !gst_caps_is_equal(caps, m_convertCaps.get())) {
        GstVideoInfo from;
        if (!gst_video_info_from_caps(&from, caps) || !prepareConverters(from))
            return false;
        m_convertCaps.reset(gst_caps_ref(caps));
    }
    // Scaling in the source's own format first touches the fewest bytes, and
    // each step runs on its converter's fast path. The caller's rows lie back
    // to back just as the target's layout says.
    if (!m_scaler)
        return convertBuffer(m_converter.get(), m_convertFrom, buffer, m_convertTo, m_target.get());
    return convertBuffer(m_scaler.get(), m_convertFrom, buffer, m_scaledInfo, m_scaled.get()) &&
           convertBuffer(m_converter.get(), m_scaledInfo, m_scaled.get(), m_convertTo,
                         m_target.get());
}

bool CapturePipeline::prepareConverters(const GstVideoInfo &from)
{
    m_converter.reset();
    m_scaler.reset();
    m_scaled.reset();
    m_convertFrom = from;
    m_convertTo = resized(from, nativeArgbVideoFormat(), m_width, m_height);
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
    m_converter.reset(
        gst_video_converter_new(scale ? &m_scaledInfo : &m_convertFrom, &m_convertTo, nullptr));
    return bool(m_converter);
}

// Runs for the life of the object: plays files again at their end, and
// while running rebuilds a pipeline that failed.
void CapturePipeline::watch()
{
    const auto types = GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS |
                                      GST_MESSAGE_APPLICATION | GST_MESSAGE_ELEMENT);
    for (;;) {
        if (m_pipeline) {
            // A rebuilt pipeline gets as long as a new one to give a frame;
            // one that hangs without a word is built again as well.
            bool outage;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                outage = m_outage;
            }
            GstClockTime wait = GST_CLOCK_TIME_NONE;
            const auto deadline = m_rebuiltAt + m_timing.start;
            if (outage) {
                const auto left = std::max(deadline - std::chrono::steady_clock::now(),
                                           std::chrono::steady_clock::duration::zero());
                wait = GstClockTime(std::chrono::nanoseconds(left).count());
            }
            g_autoptr(GstMessage) message = gst_bus_timed_pop_filtered(m_bus.get(), wait, types);
            if (!message) {
                std::unique_lock<std::mutex> lock(m_mutex);
                if (m_outage && std::chrono::steady_clock::now() >= deadline) {
                    lock.unlock();
                    failed("no picture within " + seconds(m_timing.start));
                }
                continue;
            }
            if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_APPLICATION &&
                gst_message_has_name(message, StopMessage))
                return;
            handle(message);
            continue;
        }
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait_until(lock, m_retryAt, [this] { return m_stopping; });
            if (m_stopping)
                return;
        }
        rebuild();
    }
}

void CapturePipeline::handle(GstMessage *message)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ELEMENT:
        if (gst_is_missing_plugin_message(message))
            m_missing = describeMissing(message);
        break;
    case GST_MESSAGE_ERROR: {
        g_autoptr(GError) error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        std::string reason = error ? error->message : "unknown error";
        if (!m_missing.empty())
            reason += " (" + m_missing + ")";
        failed(reason);
        break;
    }
    case GST_MESSAGE_EOS: {
        unsigned long played;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            played = m_framesSinceRewind;
            m_framesSinceRewind = 0;
        }
        // A source that ends without a single frame would only spin.
        const auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT);
        if (!m_source.loops())
            failed("the stream ended");
        else if (played == 0)
            failed("the file ended without a picture");
        else if (!gst_element_seek_simple(m_pipeline.get(), GST_FORMAT_TIME, flags, 0))
            failed("the file could not be played again from the start");
        break;
    }
    default:
        break;
    }
}

void CapturePipeline::failed(const std::string &reason)
{
    bool report;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_running) {
            // Still starting: the opening thread gives up and reports.
            if (!m_failed)
                m_reason = reason;
            m_failed = true;
            m_changed.notify_all();
            return;
        }
        // A rebuilt pipeline that fails again is not reported again.
        report = !m_outage;
        m_outage = true;
        ++m_generation;
        // A frame from before the failure is not handed out after it.
        m_newest.reset();
        m_bus.reset();
        m_retryAt = std::chrono::steady_clock::now() + m_timing.retry;
    }
    if (report)
        reportLine("camera \"" + m_source.name + "\" stopped, trying again every " +
                   seconds(m_timing.retry) + ": " + reason);
    gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
    m_pipeline.reset();
}

void CapturePipeline::rebuild()
{
    unsigned generation;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        generation = ++m_generation;
        m_retryAt = std::chrono::steady_clock::now() + m_timing.retry;
    }
    m_rebuiltAt = std::chrono::steady_clock::now();
    std::string reason;
    ElementPtr pipeline = build(generation, reason);
    if (pipeline && !play(std::move(pipeline))) {
        // Refused at once, or the library is closing the device.
        if (m_pipeline)
            gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bus.reset();
        m_pipeline.reset();
    }
}
