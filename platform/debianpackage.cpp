#include "debianpackage.h"

#include <cstring>

namespace
{

constexpr const char *Base = "gstreamer1.0-plugins-base";
constexpr const char *Good = "gstreamer1.0-plugins-good";
constexpr const char *Bad = "gstreamer1.0-plugins-bad";
constexpr const char *Ugly = "gstreamer1.0-plugins-ugly";
constexpr const char *Libav = "gstreamer1.0-libav";

struct Entry {
    const char *name;
    const char *package;
};

// Elements a camera or a video file commonly needs; checked with dpkg -S on
// Debian 12. A name ending in '*' matches every factory with that prefix.
constexpr Entry Elements[] = {
    {"avdec_*", Libav},       {"avenc_*", Libav},      {"avdemux_*", Libav},
    {"avmux_*", Libav},       {"h264parse", Bad},      {"h265parse", Bad},
    {"mpeg4videoparse", Bad}, {"mpegvideoparse", Bad}, {"jpegparse", Bad},
    {"tsdemux", Bad},         {"openh264dec", Bad},    {"curlhttpsrc", Bad},
    {"x265enc", Bad},         {"x264enc", Ugly},       {"mpeg2dec", Ugly},
    {"rtspsrc", Good},        {"souphttpsrc", Good},   {"multipartdemux", Good},
    {"jpegdec", Good},        {"jpegenc", Good},       {"qtdemux", Good},
    {"mp4mux", Good},         {"avidemux", Good},      {"avimux", Good},
    {"matroskademux", Good},  {"v4l2src", Good},       {"rtph264depay", Good},
    {"rtpjpegdepay", Good},   {"udpsrc", Good},        {"vp8dec", Good},
    {"vp9dec", Good},         {"uridecodebin", Base},  {"decodebin", Base},
    {"videoconvert", Base},   {"videoscale", Base},    {"videorate", Base},
    {"videotestsrc", Base},   {"appsink", Base},       {"appsrc", Base},
    {"theoradec", Base},      {"playbin", Base},
};

// Compressed video types by the package whose decoder Debian's default
// GStreamer picks for them.
constexpr Entry Decoders[] = {
    {"video/x-h264", Libav}, {"video/x-h265", Libav},  {"video/mpeg", Libav},
    {"video/x-divx", Libav}, {"video/x-xvid", Libav},  {"video/x-msmpeg", Libav},
    {"video/x-wmv", Libav},  {"video/x-h263", Libav},  {"video/x-flash-video", Libav},
    {"video/x-av1", Libav},  {"image/jpeg", Good},     {"video/x-vp8", Good},
    {"video/x-vp9", Good},   {"video/x-theora", Base}, {"image/png", Good},
};

bool matches(const char *pattern, const std::string &name)
{
    const std::size_t length = std::strlen(pattern);
    if (length > 0 && pattern[length - 1] == '*')
        return name.compare(0, length - 1, pattern, length - 1) == 0 && name.size() >= length;
    return name == pattern;
}

template <std::size_t N> std::string lookUp(const Entry (&table)[N], const std::string &name)
{
    for (const Entry &entry : table)
        if (matches(entry.name, name))
            return entry.package;
    return {};
}

} // namespace

std::string packageForElement(const std::string &factory)
{
    return lookUp(Elements, factory);
}

std::string packageForDecoder(const std::string &mediaType)
{
    return lookUp(Decoders, mediaType);
}
