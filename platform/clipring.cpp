#include "clipring.h"

#include <utility>

ClipFrame ClipFrame::share() const
{
    ClipFrame copy;
    copy.buffer.reset(buffer ? gst_buffer_ref(buffer.get()) : nullptr);
    copy.time = time;
    copy.decode = decode;
    copy.key = key;
    return copy;
}

void ClipRing::setSpan(GstClockTime span)
{
    m_span = span;
}

void ClipRing::setByteLimit(std::size_t bytes)
{
    m_byteLimit = bytes;
}

void ClipRing::push(ClipFrame frame)
{
    if (m_frames.empty() && !frame.key)
        return;
    const GstClockTime newest = frame.decode;
    m_bytes += frame.bytes();
    m_frames.push_back(std::move(frame));

    // Drop the oldest group while the next one alone still reaches back far
    // enough.
    for (;;) {
        const std::size_t second = nextKey(0);
        if (second == m_frames.size() || m_frames[second].time + m_span > newest)
            break;
        dropOldestGroup();
    }
    while (m_bytes > m_byteLimit && !m_frames.empty())
        dropOldestGroup();
}

void ClipRing::clear()
{
    m_frames.clear();
    m_bytes = 0;
}

std::size_t ClipRing::clipStart(GstClockTime latest, GstClockTime notBefore) const
{
    std::size_t chosen = m_frames.size();
    for (std::size_t i = 0; i < m_frames.size(); ++i) {
        const ClipFrame &frame = m_frames[i];
        if (!frame.key || (GST_CLOCK_TIME_IS_VALID(notBefore) && frame.time < notBefore))
            continue;
        if (chosen == m_frames.size() || frame.time <= latest)
            chosen = i;
        if (frame.time >= latest)
            break;
    }
    return chosen;
}

std::vector<ClipFrame> ClipRing::from(std::size_t index) const
{
    std::vector<ClipFrame> frames;
    frames.reserve(m_frames.size() - std::min(index, m_frames.size()));
    for (std::size_t i = index; i < m_frames.size(); ++i)
        frames.push_back(m_frames[i].share());
    return frames;
}

GstClockTime ClipRing::heldTime() const
{
    if (m_frames.empty())
        return 0;
    const GstClockTime oldest = m_frames.front().time;
    const GstClockTime newest = m_frames.back().decode;
    return newest > oldest ? newest - oldest : 0;
}

// Drops the first group, or everything when the ring holds only one: a
// single group over the byte limit is not kept at all.
void ClipRing::dropOldestGroup()
{
    const std::size_t end = nextKey(0);
    for (std::size_t i = 0; i < end; ++i) {
        m_bytes -= m_frames.front().bytes();
        m_frames.pop_front();
    }
}

std::size_t ClipRing::nextKey(std::size_t after) const
{
    for (std::size_t i = after + 1; i < m_frames.size(); ++i)
        if (m_frames[i].key)
            return i;
    return m_frames.size();
}
