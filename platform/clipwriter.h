#ifndef ORVELLA_CLIPWRITER_H
#define ORVELLA_CLIPWRITER_H

#include "clipring.h"
#include "gstptr.h"

#include <gst/gst.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>

// Writes one H.264 clip as an MP4 file with its index at the front, so
// players start it at once. The file grows under a temporary name beside
// the clip's (the clip's name + ".part") and takes the clip's name only once
// it is complete; a failed clip leaves nothing behind. An existing file is
// never replaced.
//
// Threads: everything but the wake-up runs on one thread, the owner's; the
// wake-up is called on GStreamer's threads whenever poll() has news.
class ClipWriter
{
public:
    enum class State { Writing, Done, Failed };

    // Starts the clip. start is the wall-clock time of its first picture
    // (written into the file as its creation time), in microseconds since
    // 1970, or 0 for none.
    ClipWriter(const std::string &path, GstCaps *caps, gint64 start, std::function<void()> wake);
    ~ClipWriter();

    ClipWriter(const ClipWriter &) = delete;
    ClipWriter &operator=(const ClipWriter &) = delete;

    // Appends a picture; pictures come in decoding order. Their times are
    // counted from the first picture's.
    void push(const ClipFrame &frame);
    // No more pictures: the file is finished once poll() says Done.
    void finish();
    // Looks at what the pipeline reported; never waits.
    State poll();
    // Gives the clip up: Failed, with reason, and nothing left behind.
    void abort(const std::string &reason) { fail(reason); }

    State state() const { return m_state; }
    // Why it failed: one line naming the file and the reason.
    const std::string &error() const { return m_error; }
    // From the first picture's start to the last one's end.
    GstClockTime duration() const;
    // Bytes handed over and not yet written out.
    guint64 backlog() const;

    // The temporary name of the clip at path.
    static std::string partName(const std::string &path);

private:
    static GstBusSyncReply onMessage(GstBus *bus, GstMessage *message, gpointer self);
    void send(BufferPtr buffer, GstClockTime time, GstClockTime decode, GstClockTime duration);
    void fail(const std::string &reason);
    void complete();
    void stop();

    std::string m_path;
    std::string m_part;
    std::string m_data; // the muxer's own temporary file
    ElementPtr m_pipeline;
    GstElement *m_source = nullptr; // owned by m_pipeline
    BusPtr m_bus;
    State m_state = State::Writing;
    std::string m_error;
    bool m_finishing = false;
    std::function<void()> m_wake;
    // What the pipeline reported, from its threads.
    std::mutex m_newsMutex;
    bool m_ended = false;
    std::string m_failure;

    // Held back until the next picture tells its duration.
    ClipFrame m_held;
    GstClockTime m_base = GST_CLOCK_TIME_NONE;
    GstClockTime m_lastDuration = 0;
    GstClockTime m_first = GST_CLOCK_TIME_NONE;
    GstClockTime m_end = 0;
};

#endif
