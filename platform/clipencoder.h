#ifndef ORVELLA_CLIPENCODER_H
#define ORVELLA_CLIPENCODER_H

#include "gstptr.h"

#include <gst/gst.h>

#include <array>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Encodes a camera's raw pictures to H.264 for clips, at the camera's own
// size and rate, with a keyframe at least every second so that a clip can
// start close to any moment. Runs in a pipeline of its own, so the camera's
// threads only hand pictures over.
//
// Threads: push from one thread at a time (the camera's); output is called
// on the encoder's own thread; the wake-up on GStreamer's threads when
// error() has news.
class ClipEncoder
{
public:
    // An encoded picture, its times already running times.
    using Output = std::function<void(GstCaps *caps, GstBuffer *picture)>;

    // raw: the pictures' caps. encoder: the element to use, or empty for the
    // first of encoders() that is installed.
    ClipEncoder(GstCaps *raw, Output output, std::function<void()> wake,
                const std::string &encoder = std::string());
    ~ClipEncoder();

    ClipEncoder(const ClipEncoder &) = delete;
    ClipEncoder &operator=(const ClipEncoder &) = delete;

    // Empty while the encoder runs; otherwise why it does not. Call from one
    // thread at a time.
    const std::string &error();
    // The encoding element in use.
    const std::string &element() const { return m_element; }
    bool accepts(GstCaps *raw) const;

    // Hands one picture over, time on the recorder's clock. Waits while the
    // encoder is a few pictures behind, as a queue in the camera's pipeline
    // would.
    void push(GstBuffer *picture, GstClockTime time);

    // The encoders in order of preference: the one named by the environment
    // variable ORVELLA_CLIP_ENCODER alone when it is set, otherwise x264enc,
    // then openh264enc (the cheaper per picture on our measurements).
    static std::vector<std::string> encoders();
    // Bit rate for pictures of width x height at fps frames a second.
    static guint bitRate(int width, int height, double fps);

private:
    static GstFlowReturn onSample(GstElement *sink, gpointer self);
    static GstBusSyncReply onMessage(GstBus *bus, GstMessage *message, gpointer self);
    GstElement *makeEncoder(const std::string &name, int width, int height, double fps);

    Output m_output;
    std::function<void()> m_wake;
    CapsPtr m_raw;
    std::string m_element;
    std::string m_error; // read and written by error()'s caller
    std::mutex m_newsMutex;
    std::string m_failure; // from the pipeline's threads
    ElementPtr m_pipeline;
    GstElement *m_source = nullptr; // owned by m_pipeline
    bool m_running = false;         // set up and playing; fixed once made
    BusPtr m_bus;
    GstClockTime m_lastKey = GST_CLOCK_TIME_NONE;
    GstClockTime m_lastTime = GST_CLOCK_TIME_NONE;
    // The steps between the last pictures: a keyframe is forced early
    // enough for the longest of them.
    std::array<GstClockTime, 16> m_steps{};
    std::size_t m_nextStep = 0;
    guint m_keyCount = 0;
};

#endif
