#ifndef ORVELLA_CAPTUREPIPELINE_H
#define ORVELLA_CAPTUREPIPELINE_H

#include "capturesources.h"
#include "capturestatus.h"
#include "escapi.h"
#include "frameconverter.h"
#include "gstptr.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class ClipRecorder;

// Plays one source and hands its frames to the caller's buffer on request,
// at the buffer's size (see FrameConverter). Once running, a source that
// fails or ends is built again every retry interval until frames come again;
// each failure and each return is reported on stderr and in the device's
// status, which also signals each frame delivered. A clip recorder, when
// given, is attached to every pipeline built and told when one fails and
// when the device closes.
//
// Threads: open and the destructor run on the caller's thread, requestFrame
// and frameDone on the program's; frames arrive on GStreamer's streaming
// threads; a watcher thread of its own handles bus messages and rebuilds.
class CapturePipeline
{
public:
    struct Timing {
        std::chrono::milliseconds start{4000};
        std::chrono::milliseconds retry{2000};
    };

    // Starts the source and waits until its first frame has arrived; null
    // (after reporting why) when it gives none within timing.start.
    static std::unique_ptr<CapturePipeline> open(const CaptureSource &source,
                                                 const SimpleCapParams &params, Timing timing,
                                                 std::shared_ptr<CaptureStatus> status,
                                                 std::shared_ptr<ClipRecorder> clips = nullptr);
    ~CapturePipeline();

    CapturePipeline(const CapturePipeline &) = delete;
    CapturePipeline &operator=(const CapturePipeline &) = delete;

    // Asks for the newest frame not delivered yet: one that is waiting is
    // copied at once, otherwise the next one to arrive.
    void requestFrame();
    // Whether the frame asked for is completely in the buffer.
    bool frameDone() const { return m_done.load(std::memory_order_acquire); }
    // Frames from the next one written on go into buffer, of the same size.
    void setBuffer(unsigned int *buffer);

private:
    CapturePipeline(const CaptureSource &source, const SimpleCapParams &params, Timing timing,
                    std::shared_ptr<CaptureStatus> status, std::shared_ptr<ClipRecorder> clips);

    // Writes text on stderr and keeps it as the device's failure, or clears
    // the failure when the device runs again.
    void report(const std::string &text, bool failure);

    ElementPtr build(unsigned generation, std::string &reason);
    bool start(std::string &reason);
    bool play(ElementPtr pipeline);
    static GstFlowReturn onNewSample(GstAppSink *sink, gpointer link);
    void takeSample(SamplePtr sample);
    void watch();
    void handle(GstMessage *message);
    void failed(const std::string &reason);
    void rebuild();

    CaptureSource m_source;
    const Timing m_timing;
    const std::shared_ptr<CaptureStatus> m_status;
    const std::shared_ptr<ClipRecorder> m_clips;

    // Written only by the opening thread before the watcher starts, then by
    // the watcher; m_bus is also read by the destructor under m_mutex.
    ElementPtr m_pipeline;
    BusPtr m_bus;
    std::thread m_watcher;
    std::string m_missing; // what the last missing-plugin message asked for
    std::chrono::steady_clock::time_point m_retryAt;
    std::chrono::steady_clock::time_point m_rebuiltAt;

    // Guarded by m_mutex: the converter and the caller's buffer, and:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    SamplePtr m_newest;        // arrived and not delivered yet
    unsigned m_generation = 0; // of the pipeline whose frames count
    bool m_requested = false;
    bool m_running = false; // started; from now on failures are rebuilt
    bool m_stopping = false;
    bool m_failed = false;
    bool m_outage = false; // failed while running and not back yet
    std::string m_reason;
    FrameConverter m_converter;
    unsigned long m_framesSinceRewind = 0;
    unsigned long m_frames = 0;

    std::atomic<bool> m_done{false};
};

#endif
