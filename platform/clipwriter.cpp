#include "clipwriter.h"

#include "pipelineparts.h"

#include <gst/app/gstappsrc.h>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

namespace
{

// GStreamer's own sentence, and the system's reason where the element gave
// one ("Read-only file system", "No space left on device").
std::string describe(GstMessage *message)
{
    g_autoptr(GError) error = nullptr;
    g_autofree gchar *debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    std::string text = error ? error->message : "unknown error";
    const char *marker = "system error: ";
    const char *system = debug ? std::strstr(debug, marker) : nullptr;
    if (system) {
        std::string reason = system + std::strlen(marker);
        reason = reason.substr(0, reason.find('\n'));
        if (!reason.empty() && text.find(reason) == std::string::npos)
            text += " (" + reason + ")";
    }
    return text;
}

bool exists(const std::string &path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// Gives the finished file its name unless something took that name
// meanwhile; falls back to a hard link on file systems without the
// no-replace rename, and to a checked rename where links are missing too.
bool renameWithoutReplacing(const std::string &from, const std::string &to, int &error)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        error = errno;
        return false;
    }
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) {
        error = errno;
        return false;
    }
    if (exists(to)) {
        error = EEXIST;
        return false;
    }
    if (rename(from.c_str(), to.c_str()) == 0)
        return true;
    error = errno;
    return false;
}

// Written to the disk before it gets its name, so a clip under its own
// name is whole even after a power cut.
void flushToDisk(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

} // namespace

ClipWriter::ClipWriter(const std::string &path, GstCaps *caps, gint64 start,
                       std::function<void()> wake)
    : m_path(path), m_part(partName(path)), m_data(m_part + "-data"), m_wake(std::move(wake))
{
    if (exists(m_path)) {
        // Nothing of this clip's is on the disk yet, and nothing is removed.
        m_error = "the clip \"" + m_path +
                  "\" could not be written: a file of that name exists "
                  "already";
        m_state = State::Failed;
        return;
    }
    m_pipeline = adoptElement(gst_pipeline_new(nullptr));
    m_source = addElement(m_pipeline.get(), "appsrc");
    GstElement *parser = addElement(m_pipeline.get(), "h264parse");
    GstElement *muxer = addElement(m_pipeline.get(), "mp4mux");
    GstElement *sink = addElement(m_pipeline.get(), "filesink");
    if (!m_source || !parser || !muxer || !sink) {
        fail("GStreamer's h264parse, mp4mux or filesink is missing");
        return;
    }
    // The whole clip may be queued while the disk catches up; backlog() lets
    // the owner give up on a disk that never does.
    g_object_set(m_source, "caps", caps, "format", GST_FORMAT_TIME, "is-live", FALSE, "block",
                 FALSE, "max-bytes", guint64(G_MAXUINT64), nullptr);
    // The index goes in front of the pictures; the muxer keeps them in a
    // file beside the clip meanwhile, on the same disk.
    g_object_set(muxer, "faststart", TRUE, "faststart-file", m_data.c_str(), nullptr);
    g_object_set(sink, "location", m_part.c_str(), "async", FALSE, nullptr);
    if (start > 0) {
        g_autoptr(GDateTime) seconds = g_date_time_new_from_unix_utc(start / G_USEC_PER_SEC);
        g_autoptr(GDateTime) utc =
            seconds ? g_date_time_add(seconds, start % G_USEC_PER_SEC) : nullptr;
        GstDateTime *when =
            utc ? gst_date_time_new_from_g_date_time(g_date_time_ref(utc)) : nullptr;
        if (when) {
            gst_tag_setter_add_tags(GST_TAG_SETTER(muxer), GST_TAG_MERGE_REPLACE, GST_TAG_DATE_TIME,
                                    when, nullptr);
            gst_date_time_unref(when);
        }
    }
    if (!gst_element_link_many(m_source, parser, muxer, sink, nullptr)) {
        fail("the camera's stream does not fit into an MP4 file");
        return;
    }
    m_bus.reset(gst_element_get_bus(m_pipeline.get()));
    gst_bus_set_sync_handler(m_bus.get(), &ClipWriter::onMessage, this, nullptr);
    // A folder that cannot be written fails here already, and says so on
    // the bus.
    gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING);
}

ClipWriter::~ClipWriter()
{
    if (m_state == State::Writing) {
        stop();
        unlink(m_part.c_str());
        unlink(m_data.c_str());
    }
}

std::string ClipWriter::partName(const std::string &path)
{
    return path + ".part";
}

void ClipWriter::push(const ClipFrame &frame)
{
    if (m_state != State::Writing || m_finishing || !frame.buffer)
        return;
    if (!GST_CLOCK_TIME_IS_VALID(m_base)) {
        // The decode times of the first pictures may lie before their
        // presentation; counting from the first decode time keeps both
        // from going below zero.
        m_base =
            GST_CLOCK_TIME_IS_VALID(frame.decode) ? std::min(frame.decode, frame.time) : frame.time;
    }
    if (m_held.buffer) {
        const GstClockTime step = frame.decode > m_held.decode ? frame.decode - m_held.decode : 0;
        if (step > 0)
            m_lastDuration = step;
        send(std::move(m_held.buffer), m_held.time, m_held.decode, m_lastDuration);
    }
    m_held = frame.share();
}

void ClipWriter::finish()
{
    if (m_state != State::Writing || m_finishing)
        return;
    if (m_held.buffer) {
        const GstClockTime own = GST_BUFFER_DURATION(m_held.buffer.get());
        send(std::move(m_held.buffer), m_held.time, m_held.decode,
             GST_CLOCK_TIME_IS_VALID(own) && own > 0 ? own : m_lastDuration);
    }
    m_finishing = true;
    gst_app_src_end_of_stream(GST_APP_SRC(m_source));
}

void ClipWriter::send(BufferPtr buffer, GstClockTime time, GstClockTime decode,
                      GstClockTime duration)
{
    GstBuffer *copy = gst_buffer_copy(buffer.get());
    GST_BUFFER_PTS(copy) = time - m_base;
    GST_BUFFER_DTS(copy) = GST_CLOCK_TIME_IS_VALID(decode) ? decode - m_base : GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(copy) = duration;
    if (!GST_CLOCK_TIME_IS_VALID(m_first) || time < m_first)
        m_first = time;
    m_end = std::max(m_end, time + duration);
    gst_app_src_push_buffer(GST_APP_SRC(m_source), copy);
}

// On the pipeline's threads. The news is kept here, not left on the bus:
// a handler runs before its message is queued, so the owner, woken, could
// look too early.
GstBusSyncReply ClipWriter::onMessage(GstBus *, GstMessage *message, gpointer data)
{
    auto *self = static_cast<ClipWriter *>(data);
    const GstMessageType type = GST_MESSAGE_TYPE(message);
    if (type != GST_MESSAGE_ERROR && type != GST_MESSAGE_EOS)
        return GST_BUS_DROP;
    {
        std::lock_guard<std::mutex> lock(self->m_newsMutex);
        if (type == GST_MESSAGE_EOS)
            self->m_ended = true;
        else if (self->m_failure.empty())
            self->m_failure = describe(message);
    }
    self->m_wake();
    return GST_BUS_DROP;
}

ClipWriter::State ClipWriter::poll()
{
    if (m_state != State::Writing)
        return m_state;
    std::string failure;
    bool ended;
    {
        std::lock_guard<std::mutex> lock(m_newsMutex);
        failure = m_failure;
        ended = m_ended;
    }
    if (!failure.empty())
        fail(failure);
    else if (ended)
        complete();
    return m_state;
}

GstClockTime ClipWriter::duration() const
{
    return GST_CLOCK_TIME_IS_VALID(m_first) && m_end > m_first ? m_end - m_first : 0;
}

guint64 ClipWriter::backlog() const
{
    return m_source && m_state == State::Writing
               ? gst_app_src_get_current_level_bytes(GST_APP_SRC(m_source))
               : 0;
}

void ClipWriter::fail(const std::string &reason)
{
    if (m_state != State::Writing)
        return;
    stop();
    unlink(m_part.c_str());
    unlink(m_data.c_str());
    m_error = "the clip \"" + m_path + "\" could not be written: " + reason;
    m_state = State::Failed;
}

void ClipWriter::complete()
{
    // Closes the file.
    stop();
    flushToDisk(m_part);
    int error = 0;
    if (!renameWithoutReplacing(m_part, m_path, error)) {
        m_state = State::Writing; // so fail() cleans up
        fail(error == EEXIST ? "a file of that name exists already" : std::strerror(error));
        return;
    }
    m_state = State::Done;
}

void ClipWriter::stop()
{
    if (m_pipeline)
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
    if (m_bus)
        gst_bus_set_sync_handler(m_bus.get(), nullptr, nullptr, nullptr);
}
