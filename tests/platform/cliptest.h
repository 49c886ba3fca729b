#ifndef ORVELLA_CLIPTEST_H
#define ORVELLA_CLIPTEST_H

// Looking at clips as a player sees them: Debian's ffprobe and ffmpeg for
// the file's structure and decoding, GStreamer for the pictures themselves.
// Pictures can carry their own number as a 4 x 4 grid of black and white
// blocks, so a clip shows exactly which of a camera's pictures it holds.

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QVector>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cstdint>
#include <cstring>

// The numbered pictures' size.
constexpr int NumberedWidth = 160;
constexpr int NumberedHeight = 120;
constexpr int NumberBits = 16;

// Draws number into an I420 picture of NumberedWidth x NumberedHeight.
inline void drawNumber(uint8_t *i420, int number)
{
    const int w = NumberedWidth;
    const int h = NumberedHeight;
    const int bw = w / 4;
    const int bh = h / 4;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int bit = (y / bh) * 4 + x / bw;
            i420[y * w + x] = (number >> bit & 1) ? 235 : 16;
        }
    std::memset(i420 + w * h, 128, std::size_t(w * h / 2));
}

// Reads the number back from a decoded picture's luma, centre of each block.
inline int readNumber(const uint8_t *luma, int stride)
{
    const int bw = NumberedWidth / 4;
    const int bh = NumberedHeight / 4;
    int number = 0;
    for (int bit = 0; bit < NumberBits; ++bit) {
        const int cx = (bit % 4) * bw + bw / 2;
        const int cy = (bit / 4) * bh + bh / 2;
        int sum = 0;
        for (int dy = -3; dy <= 3; ++dy)
            for (int dx = -3; dx <= 3; ++dx)
                sum += luma[(cy + dy) * stride + cx + dx];
        if (sum / 49 > 128)
            number |= 1 << bit;
    }
    return number;
}

// Decodes an MP4 clip into pictures of caps (raw video) and calls take with
// each mapped picture and its own presentation time, in order.
template <typename Take> void decodeClip(const QString &path, const char *caps, Take take)
{
    const QByteArray launch = "filesrc location=\"" + QFile::encodeName(path) +
                              "\" ! qtdemux ! h264parse ! avdec_h264 ! videoscale ! "
                              "videoconvert ! " +
                              caps + " ! appsink name=out sync=false";
    GstElement *pipeline = gst_parse_launch(launch.constData(), nullptr);
    if (!pipeline)
        return;
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    while (GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND)) {
        GstVideoInfo info;
        GstVideoFrame frame;
        if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
            gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
            take(frame, GST_BUFFER_PTS(gst_sample_get_buffer(sample)));
            gst_video_frame_unmap(&frame);
        }
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
}

struct DecodedPicture {
    int number;
    GstClockTime time; // the clip's own presentation time
};

// Every picture of a clip of numbered pictures, in presentation order.
inline QVector<DecodedPicture> decodeNumbered(const QString &path)
{
    QVector<DecodedPicture> pictures;
    decodeClip(path, "video/x-raw,format=I420", [&](GstVideoFrame &frame, GstClockTime time) {
        pictures.append(
            {readNumber(static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                        GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0)),
             time});
    });
    return pictures;
}

struct DecodedColour {
    GstClockTime time; // the clip's own presentation time
    unsigned int rgb;  // 0xRRGGBB at the picture's centre
};

// The colour at the centre of every picture of a clip, in presentation order.
inline QVector<DecodedColour> decodeColours(const QString &path)
{
    QVector<DecodedColour> pictures;
    decodeClip(path, "video/x-raw,format=BGRx,width=16,height=16",
               [&](GstVideoFrame &frame, GstClockTime time) {
                   const auto *centre =
                       static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) +
                       8 * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0) + 8 * 4;
                   pictures.append(
                       {time, unsigned(centre[2]) << 16 | unsigned(centre[1]) << 8 | centre[0]});
               });
    return pictures;
}

// The top-level boxes of an MP4 file, in order ("ftyp", "moov", "mdat").
inline QStringList topLevelBoxes(const QString &path)
{
    QStringList boxes;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return boxes;
    qint64 at = 0;
    while (at + 8 <= file.size()) {
        file.seek(at);
        const QByteArray head = file.read(16);
        quint64 size = quint32(uchar(head[0])) << 24 | quint32(uchar(head[1])) << 16 |
                       quint32(uchar(head[2])) << 8 | quint32(uchar(head[3]));
        if (size == 1 && head.size() == 16) {
            size = 0;
            for (int i = 8; i < 16; ++i)
                size = size << 8 | uchar(head[i]);
        }
        boxes << QString::fromLatin1(head.mid(4, 4));
        if (size < 8)
            break;
        at += qint64(size);
    }
    return boxes;
}

// Whether a player finds the index before the pictures.
inline bool indexFirst(const QString &path)
{
    const QStringList boxes = topLevelBoxes(path);
    const int index = boxes.indexOf("moov");
    const int pictures = boxes.indexOf("mdat");
    return index >= 0 && pictures > index;
}

// What Debian's ffprobe says about a clip.
struct ProbedClip {
    bool valid = false;
    QString codec;
    int width = 0;
    int height = 0;
    QString frameRate;
    double start = -1;
    double duration = -1;
    int packets = 0;
    QVector<double> keyTimes;
    QString errors;
};

inline ProbedClip probeClip(const QString &path)
{
    ProbedClip clip;
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-print_format", "json", "-show_format", "-show_streams",
                            "-show_packets", "-select_streams", "v:0", path});
    if (!probe.waitForFinished(30000) || probe.exitCode() != 0) {
        clip.errors = QString::fromLocal8Bit(probe.readAllStandardError());
        return clip;
    }
    clip.errors = QString::fromLocal8Bit(probe.readAllStandardError());
    const QJsonObject root = QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
    const QJsonArray streams = root.value("streams").toArray();
    if (streams.isEmpty())
        return clip;
    const QJsonObject stream = streams.first().toObject();
    clip.codec = stream.value("codec_name").toString();
    clip.width = stream.value("width").toInt();
    clip.height = stream.value("height").toInt();
    clip.frameRate = stream.value("avg_frame_rate").toString();
    const QJsonObject format = root.value("format").toObject();
    clip.start = format.value("start_time").toString().toDouble();
    clip.duration = format.value("duration").toString().toDouble();
    for (const QJsonValue &value : root.value("packets").toArray()) {
        const QJsonObject packet = value.toObject();
        ++clip.packets;
        if (packet.value("flags").toString().startsWith('K'))
            clip.keyTimes << packet.value("pts_time").toString().toDouble();
    }
    clip.valid = clip.errors.isEmpty() && !clip.codec.isEmpty();
    return clip;
}

// Decodes the whole clip with Debian's ffmpeg; empty when it played without
// a complaint, otherwise what ffmpeg said. Pictures keep their own times (a
// network camera's are a little uneven), as a player shows them.
inline QString playProblems(const QString &path)
{
    QProcess play;
    play.start("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-fps_mode", "passthrough",
                          "-enc_time_base", "-1", "-f", "null", "-"});
    if (!play.waitForFinished(60000))
        return "ffmpeg did not finish";
    const QString errors = QString::fromLocal8Bit(play.readAllStandardError());
    if (play.exitCode() != 0)
        return "ffmpeg failed: " + errors;
    return errors;
}

#endif
