#ifndef ORVELLA_CLIPRECORDER_H
#define ORVELLA_CLIPRECORDER_H

#include "clipring.h"
#include "gstptr.h"
#include "jpegdecoder.h"

#include <gst/gst.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ClipEncoder;
class ClipWriter;

// Event clips of one camera. While clips are on it keeps the last stretch
// of the camera's H.264 stream in a ring of whole groups of pictures: the
// camera's own stream when its pipeline parses H.264 (an RTSP camera, an MP4
// file), otherwise its raw pictures encoded here. A clip asked for starts
// from that ring, the pre-roll before the request, and ends a post-roll
// after it is stopped, at the first keyframe from then on, so clips are whole
// groups and the next one can begin exactly where it ended: clips never
// share a picture.
//
// The camera's pipeline is attached each time it is built and detached when
// it fails or is closed; the recorder itself lives on, so clips are finished
// after their camera has gone.
//
// Threads: every public function may be called from any thread and none
// waits for a file; pictures come on the pipelines' threads; one thread of
// the recorder's own writes the files.
class ClipRecorder : public std::enable_shared_from_this<ClipRecorder>
{
public:
    // The values of the state the program sees.
    enum class State { Idle = 0, Recording = 1, PostRoll = 2, Finishing = 3 };
    enum class Start { Refused = 0, Started = 1, Extended = 2 };

    struct Report {
        std::string path;
        bool written = false;
        // From the clip's first picture to the request; below zero when the
        // clip could only start after it.
        GstClockTimeDiff preroll = 0;
        GstClockTime duration = 0;
        // Why it failed, or why it ended before its post-roll.
        std::string message;
    };

    struct Status {
        State state = State::Idle;
        GstClockTime kept = 0; // the pre-roll a clip asked for now would have
        std::size_t keptBytes = 0;
        GstClockTime newest = GST_CLOCK_TIME_NONE; // the newest picture kept
        bool encoding = false;                     // encodes the camera's pictures itself
    };

    static constexpr GstClockTime MaxPreroll = 30 * GST_SECOND;

    static std::shared_ptr<ClipRecorder> create();
    ~ClipRecorder();

    ClipRecorder(const ClipRecorder &) = delete;
    ClipRecorder &operator=(const ClipRecorder &) = delete;

    // The camera's side. attach() before the pipeline plays: the recorder
    // taps the raw pictures going into sink and any H.264 parser inside
    // pipeline. A sink made later, while the pipeline plays, is given to
    // tapFrames() (ignored unless pipeline is the one attached). detach()
    // when the pipeline failed (closed false) or the camera was closed
    // (closed true); why is told for a clip cut short.
    void attach(GstElement *pipeline, GstElement *sink);
    void tapFrames(GstElement *pipeline, GstElement *sink);
    void detach(const std::string &why, bool closed);

    // Clips on, keeping preroll (at most MaxPreroll) before each request;
    // or off, which ends a running clip and frees the ring.
    void keep(GstClockTime preroll);
    void stopKeeping();

    // Starts a clip of the event that begins at `at` on the recorder's clock
    // (now when not given). Refused while clips are off, while no camera is
    // attached or being rebuilt, and for an empty path. While a clip takes
    // pictures, the event joins it: Extended, and a clip in its post-roll
    // records on until stopped again.
    Start start(const std::string &path);
    Start start(const std::string &path, GstClockTime at);
    // Ends the clip postroll after `at` (now when not given). False when no
    // clip is recording.
    bool stop(GstClockTime postroll);
    bool stop(GstClockTime postroll, GstClockTime at);

    Status status() const;
    // The oldest report of a clip that is done, written or not.
    bool takeReport(Report &report);

    // Ends a running clip and waits, at most timeout, until every clip is
    // written; then stops writing. For the end of the process.
    bool shutDown(std::chrono::milliseconds timeout);

    // The recorder's clock: the attached pipeline's running time, carried
    // on across files played again.
    GstClockTime now() const;

private:
    struct Clip;
    struct Tap;
    enum class Mode { Undecided, Parsed, Encoded };

    ClipRecorder();

    static GstPadProbeReturn onPicture(GstPad *pad, GstPadProbeInfo *info, gpointer tap);
    static void onElementAdded(GstBin *, GstBin *, GstElement *element, gpointer tap);
    void tapParser(GstElement *parser, unsigned generation);
    void tapSink(GstElement *sink, unsigned generation);
    void takeRaw(Tap &tap, GstBuffer *buffer);
    void takeParsed(Tap &tap, GstBuffer *buffer);
    static bool isJpeg(GstCaps *caps);
    // With m_jpegMutex held.
    bool decodeJpeg(GstBuffer *buffer);
    GstCaps *decodedJpegCaps(GstCaps *jpegCaps) const;
    void takeEncoded(unsigned generation, GstCaps *caps, GstBuffer *buffer);

    // With m_mutex held:
    void take(ClipFrame frame, GstCaps *caps);
    GstClockTime carryOn(GstClockTime time);
    void endActive(const std::string &why);
    void resetStream(bool newPipeline);
    GstClockTime lastKnownTime() const;

    GstClockTime runningTime() const;
    void wake();
    void work();
    void write(Clip &clip, std::deque<ClipFrame> frames, bool last);

    mutable std::mutex m_mutex;
    bool m_keep = false;
    GstClockTime m_preroll = 0;
    bool m_open = false;
    bool m_attached = false;
    unsigned m_generation = 0;
    ElementPtr m_pipeline;
    Mode m_mode = Mode::Undecided;
    CapsPtr m_caps;
    ClipRing m_ring;
    std::shared_ptr<ClipEncoder> m_encoder;
    std::vector<std::shared_ptr<ClipEncoder>> m_retired;
    std::string m_failure; // the encoder's, for clips asked for after it
    // Mapping the pipeline's running time to the recorder's clock.
    GstClockTime m_offset = 0;
    GstClockTime m_lastInput = GST_CLOCK_TIME_NONE;
    GstClockTime m_inputStep = 0;
    std::chrono::steady_clock::time_point m_lastArrival;
    gint64 m_lastArrivalWall = 0;
    // The clip taking pictures, and every clip not yet reported.
    std::shared_ptr<Clip> m_active;
    std::list<std::shared_ptr<Clip>> m_clips;
    // Where the last clip ended: the next one starts there at the earliest.
    GstClockTime m_lastEnd = GST_CLOCK_TIME_NONE;
    std::deque<Report> m_reports;
    bool m_shutDown = false;

    // Wakes the writing thread; never held together with m_mutex the other
    // way round.
    std::mutex m_signalMutex;
    std::condition_variable m_signal;
    std::condition_variable m_settled;
    bool m_work = false;
    bool m_quit = false;
    std::thread m_worker;

    // A JPEG camera's pictures reach the tap undecoded; the encoder gets
    // them decoded at full size. Its own lock: a camera rebuilt may tap on
    // a new thread while the old one finishes a picture.
    std::mutex m_jpegMutex;
    JpegDecoder m_jpeg;
};

#endif
