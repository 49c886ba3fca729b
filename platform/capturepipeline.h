#ifndef ORVELLA_CAPTUREPIPELINE_H
#define ORVELLA_CAPTUREPIPELINE_H

#include "capturesources.h"
#include "escapi.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// A running pipeline that converts one source to frames of a fixed size and
// hands them to the caller's buffer on request. Frames arrive on GStreamer's
// streaming thread; requests come from the caller's thread.
class CapturePipeline
{
public:
    // Starts the source and waits until its first frame has arrived; null when
    // the source can't be built or gives no frame within startTimeout.
    static std::unique_ptr<CapturePipeline> open(const CaptureSource &source,
                                                 const SimpleCapParams &params,
                                                 std::chrono::milliseconds startTimeout);
    ~CapturePipeline();

    CapturePipeline(const CapturePipeline &) = delete;
    CapturePipeline &operator=(const CapturePipeline &) = delete;

    // Asks for the newest frame not delivered yet: one that is waiting is
    // copied at once, otherwise the next one to arrive.
    void requestFrame();
    // Whether the frame asked for is completely in the buffer.
    bool frameDone() const { return m_done.load(std::memory_order_acquire); }

private:
    explicit CapturePipeline(const SimpleCapParams &params);

    bool build(const CaptureSource &source);
    bool start(std::chrono::milliseconds timeout);
    static GstFlowReturn onNewSample(GstAppSink *sink, gpointer self);
    void takeSample(GstSample *sample);
    bool copyToBuffer(GstSample *sample);
    void watchBus();
    void fail();

    unsigned int *const m_buffer;
    const int m_width;
    const int m_height;

    GstElement *m_pipeline = nullptr;
    GstBus *m_bus = nullptr;
    std::thread m_busWatcher;

    // Guarded by m_mutex: the caller's buffer while a request is open, and:
    std::mutex m_mutex;
    std::condition_variable m_startedOrFailed;
    GstSample *m_newest = nullptr; // arrived and not delivered yet
    bool m_requested = false;
    bool m_failed = false;
    unsigned long m_framesSinceRewind = 0;
    unsigned long m_frames = 0;

    std::atomic<bool> m_done{false};
};

#endif
