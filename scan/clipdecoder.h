#ifndef ORVELLA_CLIPDECODER_H
#define ORVELLA_CLIPDECODER_H

#include <QImage>
#include <QString>

#include <memory>

// Decodes a video file or stream into the frames a camera gives the program:
// 480 x 320, Format_ARGB32, made by the capture library's own frame
// converter, so the very same frames as the clip played as a camera.
class ClipDecoder
{
public:
    static const int frameWidth = 480;
    static const int frameHeight = 320;

    ClipDecoder();
    ~ClipDecoder();
    ClipDecoder(const ClipDecoder &) = delete;
    ClipDecoder &operator=(const ClipDecoder &) = delete;

    // Starts on a file path or an address (file://, rtsp://, http:// ...).
    // With realtime the frames come at the clip's own rate, otherwise as
    // fast as they decode. False, with error() saying why, when it cannot.
    bool open(const QString &source, bool realtime);
    // The next frame and its time in the clip; false at the end of the clip
    // or when decoding failed (error() is then set).
    bool next(QImage *frame, qint64 *timeMs);
    // Why decoding failed; empty while it works and at a clean end.
    QString error() const;
    // How long the clip says it lasts, in milliseconds; -1 when it does not
    // say (a stream) or cannot be asked.
    qint64 statedDurationMs() const;

    struct Pipeline;

private:
    std::unique_ptr<Pipeline> pipeline;
};

#endif
