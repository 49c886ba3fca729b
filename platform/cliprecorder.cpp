#include "cliprecorder.h"

#include "clipencoder.h"
#include "clipwriter.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace
{

// Hands taps from the thread that makes them to GStreamer's, whose own
// hand-over is not one every checker sees. Made before any tap.
std::mutex &tapHandOver()
{
    static std::mutex handOver;
    return handOver;
}

// Pictures of a clip lie at least this far apart.
constexpr GstClockTime MinStep = GST_MSECOND;

// A clip whose writer falls this far behind is given up: the disk does not
// keep up with the camera.
constexpr guint64 MaxBacklog = ClipRing::DefaultByteLimit;

void readEvent(GstEvent *event, GstSegment &segment, CapsPtr &caps)
{
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_CAPS: {
        GstCaps *now = nullptr;
        gst_event_parse_caps(event, &now);
        caps.reset(now ? gst_caps_ref(now) : nullptr);
        break;
    }
    case GST_EVENT_SEGMENT: {
        const GstSegment *now = nullptr;
        gst_event_parse_segment(event, &now);
        if (now && now->format == GST_FORMAT_TIME)
            gst_segment_copy_into(now, &segment);
        break;
    }
    default:
        break;
    }
}

GstClockTime toRunningTime(const GstSegment &segment, GstClockTime time)
{
    return GST_CLOCK_TIME_IS_VALID(time)
               ? gst_segment_to_running_time(&segment, GST_FORMAT_TIME, time)
               : GST_CLOCK_TIME_NONE;
}

bool isParser(GstElement *element)
{
    GstElementFactory *factory = gst_element_get_factory(element);
    return factory && std::strcmp(GST_OBJECT_NAME(factory), "h264parse") == 0;
}

} // namespace

struct ClipRecorder::Clip {
    std::string path;
    GstClockTime request = GST_CLOCK_TIME_NONE;
    GstClockTime end = GST_CLOCK_TIME_NONE; // stop + post-roll
    bool taking = true;                     // still takes pictures
    bool started = false;                   // has its first keyframe
    GstClockTime first = GST_CLOCK_TIME_NONE;
    CapsPtr caps;
    gint64 wallStart = 0;
    std::deque<ClipFrame> pending; // taken, not yet handed to the writer
    std::string note;              // why it ended before its post-roll

    // The writing thread's alone:
    std::unique_ptr<ClipWriter> writer;
    bool done = false;
    Report report;
};

// What a probe or signal handler of one pipeline knows. The threads that
// run the probe may change over a pad's life; the tap's mutex orders them.
struct ClipRecorder::Tap {
    std::mutex mutex;
    std::weak_ptr<ClipRecorder> recorder;
    unsigned generation;
    // What the pad's pictures are: raw, or H.264 from a parser.
    void (ClipRecorder::*take)(Tap &, GstBuffer *);
    GstSegment segment;
    CapsPtr caps;

    Tap(std::weak_ptr<ClipRecorder> owner, unsigned made,
        void (ClipRecorder::*taker)(Tap &, GstBuffer *) = nullptr)
        : recorder(std::move(owner)), generation(made), take(taker)
    {
        gst_segment_init(&segment, GST_FORMAT_TIME);
        std::lock_guard<std::mutex> handOver(tapHandOver());
    }
    ~Tap() { std::lock_guard<std::mutex> last(mutex); }

    // Taken by every thread that uses the tap.
    std::unique_lock<std::mutex> use()
    {
        {
            std::lock_guard<std::mutex> arrived(tapHandOver());
        }
        return std::unique_lock<std::mutex>(mutex);
    }
};

std::shared_ptr<ClipRecorder> ClipRecorder::create()
{
    return std::shared_ptr<ClipRecorder>(new ClipRecorder);
}

ClipRecorder::ClipRecorder() = default;

ClipRecorder::~ClipRecorder()
{
    shutDown(std::chrono::milliseconds(0));
}

void ClipRecorder::attach(GstElement *pipeline, GstElement *sink)
{
    unsigned generation;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        generation = ++m_generation;
        // A clip waiting for pictures takes this pipeline's; one that had
        // pictures already cannot go on in a new stream.
        if (m_active && m_active->started)
            endActive("the camera was started again");
        resetStream(true);
        m_pipeline.reset(GST_ELEMENT(gst_object_ref(pipeline)));
        m_attached = true;
        m_open = true;
    }
    const std::weak_ptr<ClipRecorder> self = weak_from_this();
    if (sink)
        tapSink(sink, generation);
    // Parsers come and go with decoders picked while the pipeline plays.
    g_signal_connect_data(
        pipeline, "deep-element-added", G_CALLBACK(&ClipRecorder::onElementAdded),
        new Tap(self, generation), [](gpointer tap, GClosure *) { delete static_cast<Tap *>(tap); },
        GConnectFlags(0));
    GstIterator *elements = gst_bin_iterate_recurse(GST_BIN(pipeline));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(elements, &item) == GST_ITERATOR_OK) {
        auto *element = GST_ELEMENT(g_value_get_object(&item));
        if (isParser(element))
            tapParser(element, generation);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(elements);
}

void ClipRecorder::tapFrames(GstElement *pipeline, GstElement *sink)
{
    unsigned generation;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_attached || m_pipeline.get() != pipeline)
            return;
        generation = m_generation;
    }
    tapSink(sink, generation);
}

void ClipRecorder::tapSink(GstElement *sink, unsigned generation)
{
    g_autoptr(GstPad) pad = gst_element_get_static_pad(sink, "sink");
    if (pad)
        gst_pad_add_probe(
            pad, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
            &ClipRecorder::onPicture,
            new Tap(weak_from_this(), generation, &ClipRecorder::takeRaw),
            [](gpointer tap) { delete static_cast<Tap *>(tap); });
}

void ClipRecorder::detach(const std::string &why, bool closed)
{
    ElementPtr pipeline;
    std::vector<std::shared_ptr<ClipEncoder>> encoders;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_generation;
        m_attached = false;
        pipeline = std::move(m_pipeline);
        if (closed)
            m_open = false;
        // A clip asked for while the camera is being rebuilt waits for it.
        if (m_active && (m_active->started || closed))
            endActive(why);
        resetStream(true);
        encoders.swap(m_retired);
    }
    wake();
    // Stopped here, outside the lock their threads may wait for, and even
    // when the writing thread has ended already.
    encoders.clear();
}

void ClipRecorder::onElementAdded(GstBin *, GstBin *, GstElement *element, gpointer data)
{
    auto *tap = static_cast<Tap *>(data);
    if (!isParser(element))
        return;
    std::shared_ptr<ClipRecorder> self;
    unsigned generation;
    {
        const auto lock = tap->use();
        self = tap->recorder.lock();
        generation = tap->generation;
    }
    if (self)
        self->tapParser(element, generation);
}

void ClipRecorder::tapParser(GstElement *parser, unsigned generation)
{
    // Parameter sets before every keyframe, so a clip can start at any.
    g_object_set(parser, "config-interval", -1, nullptr);
    g_autoptr(GstPad) pad = gst_element_get_static_pad(parser, "src");
    if (pad)
        gst_pad_add_probe(
            pad, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
            &ClipRecorder::onPicture,
            new Tap(weak_from_this(), generation, &ClipRecorder::takeParsed),
            [](gpointer tap) { delete static_cast<Tap *>(tap); });
}

GstPadProbeReturn ClipRecorder::onPicture(GstPad *, GstPadProbeInfo *info, gpointer data)
{
    auto *tap = static_cast<Tap *>(data);
    const auto lock = tap->use();
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) {
        if (std::shared_ptr<ClipRecorder> self = tap->recorder.lock())
            ((*self).*(tap->take))(*tap, GST_PAD_PROBE_INFO_BUFFER(info));
    } else if (GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info)) {
        readEvent(event, tap->segment, tap->caps);
    }
    return GST_PAD_PROBE_OK;
}

void ClipRecorder::takeRaw(Tap &tap, GstBuffer *buffer)
{
    GstClockTime time = toRunningTime(tap.segment, GST_BUFFER_PTS(buffer));
    // Pictures without times (some web cameras) are placed when they come.
    if (!GST_CLOCK_TIME_IS_VALID(time))
        time = runningTime();
    std::shared_ptr<ClipEncoder> encoder;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (tap.generation != m_generation)
            return;
        // The camera's own H.264 would have reached its parser first.
        if (m_mode == Mode::Undecided)
            m_mode = Mode::Encoded;
        if (m_mode != Mode::Encoded || !m_keep || !tap.caps || !GST_CLOCK_TIME_IS_VALID(time))
            return;
        time = carryOn(time);
    }
    GstCaps *caps = tap.caps.get();
    CapsPtr decodedCaps;
    BufferPtr decoded;
    if (isJpeg(caps)) {
        std::lock_guard<std::mutex> lock(m_jpegMutex);
        if (!decodeJpeg(buffer))
            return;
        decodedCaps.reset(decodedJpegCaps(caps));
        // The encoder may still read it while the next one is decoded.
        decoded = m_jpeg.takePicture();
        caps = decodedCaps.get();
        buffer = decoded.get();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (tap.generation != m_generation)
            return;
        if (m_encoder && m_encoder->accepts(caps))
            encoder = m_encoder;
    }
    if (!encoder) {
        const unsigned generation = tap.generation;
        encoder = std::make_shared<ClipEncoder>(
            caps,
            [this, generation](GstCaps *caps, GstBuffer *picture) {
                takeEncoded(generation, caps, picture);
            },
            [this] { wake(); });
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_encoder)
            m_retired.push_back(std::move(m_encoder));
        if (tap.generation != m_generation || !m_keep) {
            m_retired.push_back(encoder);
            return;
        }
        m_encoder = encoder;
    }
    wake(); // the writing thread looks at the encoder's health
    encoder->push(buffer, time);
}

bool ClipRecorder::isJpeg(GstCaps *caps)
{
    return caps && gst_caps_get_size(caps) > 0 &&
           gst_structure_has_name(gst_caps_get_structure(caps, 0), "image/jpeg");
}

bool ClipRecorder::decodeJpeg(GstBuffer *buffer)
{
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return false;
    // Wanted larger than any camera's picture: never decoded smaller.
    constexpr int FullSize = 1 << 16;
    const bool decoded = m_jpeg.decode(map.data, map.size, FullSize, FullSize);
    gst_buffer_unmap(buffer, &map);
    return decoded;
}

// The decoded picture's caps, at the rate the camera's JPEG caps give.
GstCaps *ClipRecorder::decodedJpegCaps(GstCaps *jpegCaps) const
{
    GstVideoInfo info = m_jpeg.info();
    gint num = 0, den = 1;
    if (gst_structure_get_fraction(gst_caps_get_structure(jpegCaps, 0), "framerate", &num, &den) &&
        num > 0 && den > 0) {
        GST_VIDEO_INFO_FPS_N(&info) = num;
        GST_VIDEO_INFO_FPS_D(&info) = den;
    }
    return gst_video_info_to_caps(&info);
}

void ClipRecorder::takeParsed(Tap &tap, GstBuffer *buffer)
{
    GstClockTime time = toRunningTime(tap.segment, GST_BUFFER_PTS(buffer));
    GstClockTime decode = toRunningTime(tap.segment, GST_BUFFER_DTS(buffer));
    if (!GST_CLOCK_TIME_IS_VALID(time))
        time = decode;
    if (!GST_CLOCK_TIME_IS_VALID(decode) || decode > time)
        decode = time;
    if (!GST_CLOCK_TIME_IS_VALID(time))
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (tap.generation != m_generation)
        return;
    if (m_mode == Mode::Undecided)
        m_mode = Mode::Parsed;
    if (m_mode != Mode::Parsed || !m_keep)
        return;
    const GstClockTime shift = carryOn(decode) - decode;
    ClipFrame frame;
    frame.buffer.reset(gst_buffer_ref(buffer));
    frame.time = time + shift;
    frame.decode = decode + shift;
    frame.key = !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    take(std::move(frame), tap.caps.get());
}

void ClipRecorder::takeEncoded(unsigned generation, GstCaps *caps, GstBuffer *buffer)
{
    ClipFrame frame;
    frame.time = GST_BUFFER_PTS(buffer);
    frame.decode = GST_BUFFER_DTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(frame.decode) || frame.decode > frame.time)
        frame.decode = frame.time;
    if (!GST_CLOCK_TIME_IS_VALID(frame.time))
        return;
    frame.buffer.reset(gst_buffer_ref(buffer));
    frame.key = !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (generation != m_generation || !m_keep || m_mode != Mode::Encoded)
        return;
    take(std::move(frame), caps);
}

// Maps a running time of the attached pipeline to the recorder's clock. A
// file played again from its start, or a pipeline that was flushed, starts
// its times again; the clock carries on one picture after the last.
GstClockTime ClipRecorder::carryOn(GstClockTime time)
{
    GstClockTime mapped = time + m_offset;
    if (GST_CLOCK_TIME_IS_VALID(m_lastInput) && mapped < m_lastInput) {
        m_offset = m_lastInput + m_inputStep - time;
        mapped = time + m_offset;
    }
    // Pictures stamped as they arrive may come in a burst, microseconds
    // apart; a clip needs each at a time of its own.
    if (GST_CLOCK_TIME_IS_VALID(m_lastInput) && mapped < m_lastInput + MinStep)
        mapped = m_lastInput + MinStep;
    if (GST_CLOCK_TIME_IS_VALID(m_lastInput) && mapped > m_lastInput)
        m_inputStep = mapped - m_lastInput;
    m_lastInput = mapped;
    m_lastArrival = std::chrono::steady_clock::now();
    m_lastArrivalWall = g_get_real_time();
    return mapped;
}

void ClipRecorder::take(ClipFrame frame, GstCaps *caps)
{
    if (!caps)
        return;
    if (!m_caps || !gst_caps_is_equal(caps, m_caps.get())) {
        // An MP4 track keeps one picture format.
        if (m_caps) {
            endActive("the camera changed its picture format");
            m_ring.clear();
            m_lastEnd = GST_CLOCK_TIME_NONE;
        }
        m_caps.reset(gst_caps_ref(caps));
    }
    if (m_active) {
        const std::shared_ptr<Clip> clip = m_active;
        if (!clip->started && GST_CLOCK_TIME_IS_VALID(clip->end) && frame.time >= clip->end) {
            // Stopped, post-roll and all, before its first keyframe came.
            clip->taking = false;
            m_active.reset();
        } else if (!clip->started) {
            if (frame.key && (!GST_CLOCK_TIME_IS_VALID(m_lastEnd) || frame.time >= m_lastEnd)) {
                clip->started = true;
                clip->first = frame.time;
                clip->caps.reset(gst_caps_ref(m_caps.get()));
                clip->wallStart =
                    m_lastArrivalWall - GstClockTimeDiff(m_lastInput - frame.time) / 1000;
            }
        } else if (GST_CLOCK_TIME_IS_VALID(clip->end) && frame.key && frame.time >= clip->end) {
            // The keyframe after the post-roll opens the next clip, if any.
            clip->taking = false;
            m_lastEnd = frame.time;
            m_active.reset();
        }
        if (m_active && clip->started)
            clip->pending.push_back(frame.share());
        wake();
    }
    m_ring.push(std::move(frame));
}

void ClipRecorder::endActive(const std::string &why)
{
    if (!m_active)
        return;
    m_active->taking = false;
    m_active->note = why;
    m_active.reset();
    wake();
}

// Forgets what was kept of the stream; a new pipeline also has its own
// kind of stream and its own times.
void ClipRecorder::resetStream(bool newPipeline)
{
    m_ring.clear();
    m_caps.reset();
    m_lastEnd = GST_CLOCK_TIME_NONE;
    m_failure.clear();
    if (m_encoder)
        m_retired.push_back(std::move(m_encoder));
    if (newPipeline) {
        m_mode = Mode::Undecided;
        m_offset = 0;
        m_lastInput = GST_CLOCK_TIME_NONE;
        m_inputStep = 0;
    }
}

void ClipRecorder::keep(GstClockTime preroll)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_shutDown)
        return;
    m_keep = true;
    m_preroll = std::min(preroll, MaxPreroll);
    // A second more than asked: the request may lie a little before the
    // newest picture, and the ring only reaches back from that.
    m_ring.setSpan(m_preroll + GST_SECOND);
    if (!m_worker.joinable())
        m_worker = std::thread(&ClipRecorder::work, this);
}

void ClipRecorder::stopKeeping()
{
    std::vector<std::shared_ptr<ClipEncoder>> encoders;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_keep)
            return;
        m_keep = false;
        endActive("clips were turned off");
        resetStream(false);
        encoders.swap(m_retired);
    }
    wake();
    encoders.clear();
}

ClipRecorder::Start ClipRecorder::start(const std::string &path)
{
    return start(path, now());
}

ClipRecorder::Start ClipRecorder::start(const std::string &path, GstClockTime at)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_shutDown || !m_keep || !m_open || path.empty())
        return Start::Refused;
    if (m_active) {
        m_active->end = GST_CLOCK_TIME_NONE;
        return Start::Extended;
    }
    auto clip = std::make_shared<Clip>();
    clip->path = path;
    clip->request = at;
    m_clips.push_back(clip);
    if (!m_failure.empty()) {
        clip->taking = false;
        clip->note = m_failure;
        wake();
        return Start::Started;
    }
    m_active = clip;
    if (m_attached && GST_CLOCK_TIME_IS_VALID(at)) {
        const GstClockTime latest = at > m_preroll ? at - m_preroll : 0;
        const std::size_t index = m_ring.clipStart(latest, m_lastEnd);
        if (index < m_ring.size()) {
            std::vector<ClipFrame> frames = m_ring.from(index);
            clip->started = true;
            clip->first = frames.front().time;
            clip->caps.reset(gst_caps_ref(m_caps.get()));
            clip->wallStart =
                m_lastArrivalWall - GstClockTimeDiff(m_lastInput - clip->first) / 1000;
            for (ClipFrame &frame : frames)
                clip->pending.push_back(std::move(frame));
        }
    }
    wake();
    return Start::Started;
}

bool ClipRecorder::stop(GstClockTime postroll)
{
    return stop(postroll, now());
}

bool ClipRecorder::stop(GstClockTime postroll, GstClockTime at)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_active || GST_CLOCK_TIME_IS_VALID(m_active->end))
        return false;
    if (!GST_CLOCK_TIME_IS_VALID(at))
        at = lastKnownTime();
    // A clip still waiting for its first picture, from a camera that has
    // not sent one yet, has nothing to end after.
    if (!GST_CLOCK_TIME_IS_VALID(at)) {
        endActive(std::string());
        return true;
    }
    m_active->end = at + postroll;
    return true;
}

ClipRecorder::Status ClipRecorder::status() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Status status;
    if (m_active)
        status.state = GST_CLOCK_TIME_IS_VALID(m_active->end) ? State::PostRoll : State::Recording;
    else if (!m_clips.empty())
        status.state = State::Finishing;
    status.kept = m_ring.heldTime();
    status.keptBytes = m_ring.bytes();
    status.newest = m_ring.newest();
    status.encoding = m_mode == Mode::Encoded;
    return status;
}

bool ClipRecorder::takeReport(Report &report)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_reports.empty())
        return false;
    report = std::move(m_reports.front());
    m_reports.pop_front();
    return true;
}

bool ClipRecorder::shutDown(std::chrono::milliseconds timeout)
{
    bool settled;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_shutDown = true;
        endActive("the program ended");
        settled = m_settled.wait_for(lock, timeout, [this] { return m_clips.empty(); });
    }
    {
        std::lock_guard<std::mutex> lock(m_signalMutex);
        m_quit = true;
    }
    m_signal.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    // What is left unwritten goes, with its temporary files; encoders stop
    // outside the lock, as their threads may be waiting for it.
    std::list<std::shared_ptr<Clip>> clips;
    std::vector<std::shared_ptr<ClipEncoder>> encoders;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_generation;
        m_keep = false;
        clips.swap(m_clips);
        encoders.swap(m_retired);
        if (m_encoder)
            encoders.push_back(std::move(m_encoder));
    }
    encoders.clear();
    clips.clear();
    return settled;
}

GstClockTime ClipRecorder::runningTime() const
{
    ElementPtr pipeline;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pipeline)
            pipeline.reset(GST_ELEMENT(gst_object_ref(m_pipeline.get())));
    }
    if (!pipeline)
        return GST_CLOCK_TIME_NONE;
    GstClock *clock = gst_element_get_clock(pipeline.get());
    if (!clock)
        return GST_CLOCK_TIME_NONE;
    const GstClockTime time = gst_clock_get_time(clock);
    const GstClockTime base = gst_element_get_base_time(pipeline.get());
    gst_object_unref(clock);
    return time > base ? time - base : 0;
}

GstClockTime ClipRecorder::now() const
{
    const GstClockTime running = runningTime();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (GST_CLOCK_TIME_IS_VALID(running))
        return running + m_offset;
    return lastKnownTime();
}

// The newest picture's time, moved on by the time since it came.
GstClockTime ClipRecorder::lastKnownTime() const
{
    if (!GST_CLOCK_TIME_IS_VALID(m_lastInput))
        return GST_CLOCK_TIME_NONE;
    const auto since = std::chrono::steady_clock::now() - m_lastArrival;
    return m_lastInput + GstClockTime(std::chrono::nanoseconds(since).count());
}

void ClipRecorder::wake()
{
    {
        std::lock_guard<std::mutex> lock(m_signalMutex);
        m_work = true;
    }
    m_signal.notify_one();
}

// The writing thread: hands pictures to the clips' writers, finishes them
// and reports. No GStreamer call here is made under m_mutex, as the
// pipelines' threads take it.
void ClipRecorder::work()
{
    struct Job {
        std::shared_ptr<Clip> clip;
        std::deque<ClipFrame> frames;
        bool last;
    };
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_signalMutex);
            m_signal.wait(lock, [this] { return m_work || m_quit; });
            if (m_quit)
                return;
            m_work = false;
        }
        std::vector<std::shared_ptr<ClipEncoder>> retired;
        std::shared_ptr<ClipEncoder> encoder;
        std::deque<Job> jobs;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            retired.swap(m_retired);
            encoder = m_encoder;
            for (const std::shared_ptr<Clip> &clip : m_clips) {
                jobs.push_back({clip, std::move(clip->pending), !clip->taking});
                clip->pending.clear();
            }
        }
        retired.clear();
        if (encoder && !encoder->error().empty()) {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_encoder == encoder && m_failure.empty()) {
                m_failure = "the camera's pictures could not be encoded: " + encoder->error();
                endActive(m_failure);
            }
        }
        for (Job &job : jobs)
            write(*job.clip, std::move(job.frames), job.last);

        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_clips.begin(); it != m_clips.end();) {
            const std::shared_ptr<Clip> clip = *it;
            if (!clip->done) {
                ++it;
                continue;
            }
            // A clip that failed while recording: the event goes on without.
            if (m_active == clip)
                m_active.reset();
            m_reports.push_back(std::move(clip->report));
            it = m_clips.erase(it);
        }
        if (m_clips.empty())
            m_settled.notify_all();
    }
}

// On the writing thread. A clip's started, first, caps and wallStart are
// set before its first pictures are handed over, and stay.
void ClipRecorder::write(Clip &clip, std::deque<ClipFrame> frames, bool last)
{
    if (clip.done)
        return;
    Report &report = clip.report;
    if (!clip.writer) {
        if (frames.empty()) {
            if (last) {
                report.path = clip.path;
                report.message = clip.note.empty() ? "no picture came from the camera" : clip.note;
                clip.done = true;
            }
            return;
        }
        clip.writer = std::make_unique<ClipWriter>(clip.path, clip.caps.get(), clip.wallStart,
                                                   [this] { wake(); });
    }
    for (const ClipFrame &frame : frames)
        clip.writer->push(frame);
    if (last)
        clip.writer->finish();
    if (clip.writer->poll() == ClipWriter::State::Writing && clip.writer->backlog() > MaxBacklog)
        clip.writer->abort("the disk does not keep up with the camera");
    if (clip.writer->state() == ClipWriter::State::Writing)
        return;
    report.path = clip.path;
    report.written = clip.writer->state() == ClipWriter::State::Done;
    report.message = report.written ? clip.note : clip.writer->error();
    report.duration = clip.writer->duration();
    if (GST_CLOCK_TIME_IS_VALID(clip.request))
        report.preroll = GstClockTimeDiff(clip.request) - GstClockTimeDiff(clip.first);
    clip.writer.reset();
    clip.done = true;
}
