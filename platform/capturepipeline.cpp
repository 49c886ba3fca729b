#include "capturepipeline.h"

#include "capturereport.h"
#include "cliprecorder.h"
#include "pipelinebuilder.h"

#include <gst/pbutils/missing-plugins.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace
{

constexpr const char *StopMessage = "orvella-capture-stop";
// What the watcher acts on.
constexpr auto WatchedMessages = GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS |
                                                GST_MESSAGE_APPLICATION | GST_MESSAGE_ELEMENT);

// Everything else is dropped as it is posted, so it never wakes the watcher:
// a network camera's buffering alone posts a message a frame.
GstBusSyncReply dropUnwatched(GstBus *, GstMessage *message, gpointer)
{
    return GST_MESSAGE_TYPE(message) & WatchedMessages ? GST_BUS_PASS : GST_BUS_DROP;
}

// "2 s", "0.5 s"
std::string seconds(std::chrono::milliseconds duration)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g s", duration.count() / 1000.0);
    return text;
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
                                 Timing timing, std::shared_ptr<CaptureStatus> status,
                                 std::shared_ptr<ClipRecorder> clips)
    : m_source(source), m_timing(timing), m_status(std::move(status)), m_clips(std::move(clips)),
      m_converter(params.buffer, params.width, params.height)
{
}

std::unique_ptr<CapturePipeline> CapturePipeline::open(const CaptureSource &source,
                                                       const SimpleCapParams &params, Timing timing,
                                                       std::shared_ptr<CaptureStatus> status,
                                                       std::shared_ptr<ClipRecorder> clips)
{
    std::unique_ptr<CapturePipeline> pipeline(
        new CapturePipeline(source, params, timing, std::move(status), std::move(clips)));
    // An earlier failure is history once the device is opened again.
    pipeline->m_status->setFailure(std::string());
    std::string reason;
    if (!pipeline->start(reason)) {
        pipeline->report("camera \"" + source.name + "\" did not start: " + reason, true);
        return nullptr;
    }
    return pipeline;
}

void CapturePipeline::report(const std::string &text, bool failure)
{
    // The reason is readable before the line about it is seen.
    m_status->setFailure(failure ? reportText(text) : std::string());
    reportLine(text);
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
    m_status->setDone(false);
    if (m_clips)
        m_clips->detach("the camera was closed", true);
}

ElementPtr CapturePipeline::build(unsigned generation, std::string &reason)
{
    // A camera's sink is made while the pipeline is built, or, for an
    // address, only once its first video stream appears while it plays;
    // the clip recorder taps it in either case.
    struct SinkTap {
        std::mutex mutex;
        GstElement *pipeline = nullptr; // once attached
        GstElement *early = nullptr;    // a sink made before that
    };
    auto tap = std::make_shared<SinkTap>();
    ElementPtr pipeline = buildCapturePipeline(
        m_source,
        [this, generation, tap](GstAppSink *sink) {
            GstAppSinkCallbacks callbacks = {};
            callbacks.new_sample = &CapturePipeline::onNewSample;
            gst_app_sink_set_callbacks(sink, &callbacks, new SinkLink{this, generation}, freeLink);
            if (!m_clips)
                return;
            std::lock_guard<std::mutex> lock(tap->mutex);
            if (tap->pipeline)
                m_clips->tapFrames(tap->pipeline, GST_ELEMENT(sink));
            else
                tap->early = GST_ELEMENT(sink);
        },
        reason);
    // Before it plays, so the recorder sees the stream from its start.
    if (pipeline && m_clips) {
        std::lock_guard<std::mutex> lock(tap->mutex);
        m_clips->attach(pipeline.get(), tap->early);
        tap->pipeline = pipeline.get();
    }
    return pipeline;
}

bool CapturePipeline::play(ElementPtr pipeline)
{
    BusPtr bus(gst_element_get_bus(pipeline.get()));
    gst_bus_set_sync_handler(bus.get(), dropUnwatched, nullptr, nullptr);
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
    m_status->setDone(false);
    m_requested = true;
    if (m_newest)
        takeSample(std::move(m_newest));
}

void CapturePipeline::setBuffer(unsigned int *buffer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_converter.setBuffer(buffer);
}

GstFlowReturn CapturePipeline::onNewSample(GstAppSink *sink, gpointer data)
{
    SamplePtr sample(gst_app_sink_pull_sample(sink));
    if (!sample)
        return GST_FLOW_OK;
    const auto *link = static_cast<const SinkLink *>(data);
    auto *self = static_cast<CapturePipeline *>(link->pipeline);
    std::unique_lock<std::mutex> lock(self->m_mutex);
    if (link->generation != self->m_generation)
        return GST_FLOW_OK;
    if (self->m_outage) {
        // A failure from here on is a new outage and is reported as one.
        self->m_outage = false;
        // Whoever gets the first frame back also finds the stop cleared and
        // the line about it written.
        lock.unlock();
        self->report("camera \"" + self->m_source.name + "\" is running again", false);
        lock.lock();
        // Failed again meanwhile: this frame is from before the failure.
        if (link->generation != self->m_generation)
            return GST_FLOW_OK;
    }
    ++self->m_framesSinceRewind;
    if (self->m_frames++ == 0)
        self->m_changed.notify_all();
    self->takeSample(std::move(sample));
    return GST_FLOW_OK;
}

// Called with m_mutex held.
void CapturePipeline::takeSample(SamplePtr sample)
{
    if (m_requested && m_converter.convert(sample.get())) {
        m_requested = false;
        m_done.store(true, std::memory_order_release);
        m_status->setDone(true);
        return;
    }
    m_newest = std::move(sample);
}

// Runs for the life of the object: plays files again at their end, and
// while running rebuilds a pipeline that failed.
void CapturePipeline::watch()
{
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
            g_autoptr(GstMessage) message =
                gst_bus_timed_pop_filtered(m_bus.get(), wait, WatchedMessages);
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
            m_missing = describeMissingPlugin(message);
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
    bool first;
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
        first = !m_outage;
        m_outage = true;
        ++m_generation;
        // A frame from before the failure is not handed out after it.
        m_newest.reset();
        m_bus.reset();
        m_retryAt = std::chrono::steady_clock::now() + m_timing.retry;
    }
    if (first)
        report("camera \"" + m_source.name + "\" stopped, trying again every " +
                   seconds(m_timing.retry) + ": " + reason,
               true);
    if (m_clips)
        m_clips->detach("the camera stopped: " + reason, false);
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
