#ifndef ORVELLA_CLIPTEST_H
#define ORVELLA_CLIPTEST_H

// Looking at clips as a player sees them, with Debian's ffprobe and ffmpeg:
// the file's structure, decoding, and the pictures themselves.
// Pictures can carry their own number as a 4 x 4 grid of black and white
// blocks, so a clip shows exactly which of a camera's pictures it holds.

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

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

struct DecodedBytes {
    double time; // the clip's own presentation time, in seconds
    QByteArray bytes;
};

// Decodes clips with one run of Debian's ffmpeg, each picture through filter
// into pixel format format, size bytes: per clip, every picture's bytes
// with its own presentation time, in order; a clip ffmpeg could not decode
// whole has none.
inline QVector<QVector<DecodedBytes>> decodeClips(const QStringList &paths, const QString &filter,
                                                  const char *format, int size)
{
    QTemporaryDir out;
    QStringList arguments{"-nostdin", "-hide_banner", "-nostats", "-loglevel", "info"};
    QStringList graph;
    for (int i = 0; i < paths.size(); ++i) {
        arguments << "-i" << paths[i];
        graph << QString("[%1:v]%2,showinfo[v%1]").arg(i).arg(filter);
    }
    arguments << "-filter_complex" << graph.join(';');
    for (int i = 0; i < paths.size(); ++i)
        arguments << "-map" << QString("[v%1]").arg(i)
                  << QStringList{"-fps_mode", "passthrough", "-enc_time_base", "-1",
                                 "-f",        "rawvideo",    "-pix_fmt",       format}
                  << out.filePath(QString::number(i));
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", arguments);
    QVector<QVector<DecodedBytes>> clips(paths.size());
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitCode() != 0)
        return clips;
    // Filters are numbered through the whole graph: each clip's chain has
    // filter's own ones, then its showinfo.
    const int perChain = filter.count(',') + 2;
    static const QRegularExpression line(
        "Parsed_showinfo_(\\d+) @[^\\]]*\\].*pts_time:\\s*([-0-9.e+]+)");
    QVector<QVector<double>> times(paths.size());
    for (auto match = line.globalMatch(QString::fromLocal8Bit(ffmpeg.readAllStandardError()));
         match.hasNext();) {
        const auto found = match.next();
        const int clip = (found.captured(1).toInt() + 1) / perChain - 1;
        if (clip >= 0 && clip < paths.size())
            times[clip] << found.captured(2).toDouble();
    }
    for (int i = 0; i < paths.size(); ++i) {
        QFile file(out.filePath(QString::number(i)));
        const QByteArray pictures = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        if (pictures.size() != times[i].size() * size)
            continue;
        for (int k = 0; k < times[i].size(); ++k)
            clips[i].append({times[i][k], pictures.mid(k * size, size)});
    }
    return clips;
}

struct DecodedPicture {
    int number;
    double time; // the clip's own presentation time, in seconds
};

// Every picture of clips of numbered pictures, in presentation order: each
// block of the grid averaged into one grey pixel.
inline QVector<QVector<DecodedPicture>> decodeNumbered(const QStringList &paths)
{
    QVector<QVector<DecodedPicture>> clips;
    for (const QVector<DecodedBytes> &clip :
         decodeClips(paths, "scale=4:4:flags=area", "gray", 16)) {
        clips.append(QVector<DecodedPicture>());
        for (const DecodedBytes &picture : clip) {
            int number = 0;
            for (int bit = 0; bit < NumberBits; ++bit)
                if (uchar(picture.bytes[bit]) > 128)
                    number |= 1 << bit;
            clips.last().append({number, picture.time});
        }
    }
    return clips;
}

struct DecodedColour {
    double time;      // the clip's own presentation time, in seconds
    unsigned int rgb; // 0xRRGGBB, the mean of the picture's centre
};

// The colour at the centre of every picture of a clip, in presentation order.
inline QVector<DecodedColour> decodeColours(const QString &path)
{
    const QVector<QVector<DecodedBytes>> clips =
        decodeClips({path}, "crop=iw/4:ih/4,scale=1:1:flags=area", "rgb24", 3);
    QVector<DecodedColour> pictures;
    for (const DecodedBytes &picture : clips.first())
        pictures.append({picture.time, unsigned(uchar(picture.bytes[0])) << 16 |
                                           unsigned(uchar(picture.bytes[1])) << 8 |
                                           uchar(picture.bytes[2])});
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
                          "-enc_time_base", "-1", "-f", "rawvideo", "-y", "/dev/null"});
    if (!play.waitForFinished(60000))
        return "ffmpeg did not finish";
    const QString errors = QString::fromLocal8Bit(play.readAllStandardError());
    if (play.exitCode() != 0)
        return "ffmpeg failed: " + errors;
    return errors;
}

#endif
