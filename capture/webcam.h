#ifndef ORVELLA_WEBCAM_H
#define ORVELLA_WEBCAM_H

#include "escapi.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <memory>

// One capture device: its index and name, the frame buffer the capture
// library fills, and the latest frame read out of it.
class Webcam : public QObject
{
    Q_OBJECT
public:
    Webcam(int deviceIndex, int width, int height);
    ~Webcam() override;

    // Closes the device if it is usable. Opening is CameraOpener's work, off
    // the caller's thread.
    void close();

    // Asks the library for one frame; returns at once. Where the library
    // takes a buffer of the caller's for each frame, the frame goes straight
    // into an image that nobody holds any more, else into the buffer.
    void requestFrame();

    // Whether the frame asked for is in; if it is, image becomes it (read out
    // of the buffer when it went there). Never waits: image is untouched
    // while the frame is not there.
    bool takeFrame();

    // A descriptor that is readable exactly while the frame asked for is in
    // the buffer, to wait on instead of asking again and again; -1 when the
    // library offers none.
    int frameDoneDescriptor() const;

    // Why the camera last failed to start or stopped, as the library says
    // it; empty while all is well or when the library does not say.
    QString errorText() const;

    bool usable = false;
    int width;
    int height;
    int deviceIndex;
    SimpleCapParams params;
    QImage image;
    QString name;

private:
    // An image of the frame size that only this record holds, or null.
    QImage *freeFrame();

    std::unique_ptr<unsigned int[]> buffer;
    // Images the library writes frames into; the latest, the one before it
    // (kept by the comparison, still on show) and one to write the next into.
    QImage frames[3];
    QImage *target = nullptr; // where the frame asked for goes; null: buffer
};

// The name of a device from the bytes the library wrote: up to the first
// zero byte (all of them when there is none), one character per byte.
QString deviceNameFromBuffer(const char *bytes, int length);

// A Format_ARGB32 image of width x height from row-major 0xAARRGGBB words.
QImage imageFromFrameBuffer(const unsigned int *words, int width, int height);
// The same into frame's own memory, frame.width() x frame.height() words.
void copyFrameBuffer(const unsigned int *words, QImage &frame);

#endif
