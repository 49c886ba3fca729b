#ifndef ORVELLA_CLIPRING_H
#define ORVELLA_CLIPRING_H

#include "gstptr.h"

#include <gst/gst.h>

#include <cstddef>
#include <deque>
#include <vector>

// One encoded picture of a camera's stream. Times are on the recorder's
// clock, which runs on across a file played again from its start.
struct ClipFrame {
    BufferPtr buffer;                          // the picture as it came, shared
    GstClockTime time = GST_CLOCK_TIME_NONE;   // presentation
    GstClockTime decode = GST_CLOCK_TIME_NONE; // decoding; never goes back
    bool key = false;

    ClipFrame share() const;
    std::size_t bytes() const { return buffer ? gst_buffer_get_size(buffer.get()) : 0; }
};

// The last stretch of a stream in whole groups of pictures: it always starts
// at a keyframe and keeps, besides the newest group, every group that is
// needed to go back `span` from the newest picture. Memory is capped: past
// `byteLimit` the oldest groups go even when that shortens what is kept.
class ClipRing
{
public:
    static constexpr std::size_t DefaultByteLimit = std::size_t(64) << 20;

    void setSpan(GstClockTime span);
    void setByteLimit(std::size_t bytes);
    // Pictures up to the first keyframe of an empty ring are dropped: nothing
    // before it can be decoded.
    void push(ClipFrame frame);
    void clear();

    // Where a clip that should start at or before `latest` begins: the last
    // keyframe at or before it, never one before `notBefore`; when the ring
    // does not reach back that far, its oldest keyframe from `notBefore` on.
    // Returns size() when no keyframe qualifies yet.
    std::size_t clipStart(GstClockTime latest, GstClockTime notBefore) const;
    // Shares the pictures from index on.
    std::vector<ClipFrame> from(std::size_t index) const;

    std::size_t size() const { return m_frames.size(); }
    bool empty() const { return m_frames.empty(); }
    std::size_t bytes() const { return m_bytes; }
    GstClockTime newest() const
    {
        return m_frames.empty() ? GST_CLOCK_TIME_NONE : m_frames.back().time;
    }
    // From the oldest picture's start to the newest's: what a clip asked for
    // now could have before the request.
    GstClockTime heldTime() const;

private:
    void dropOldestGroup();
    std::size_t nextKey(std::size_t after) const;

    std::deque<ClipFrame> m_frames;
    std::size_t m_bytes = 0;
    GstClockTime m_span = 0;
    std::size_t m_byteLimit = DefaultByteLimit;
};

#endif
