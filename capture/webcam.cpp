#include "webcam.h"

#include "capturelibrary.h"

#include <cstring>

Webcam::Webcam(int deviceIndex, int width, int height)
    : width(width), height(height), deviceIndex(deviceIndex),
      buffer(new unsigned int[size_t(width) * size_t(height)])
{
    params.buffer = buffer.get();
    params.width = width;
    params.height = height;
}

Webcam::~Webcam()
{
    // Always closed, opened or not: the library must not write into the
    // buffer once it is gone.
    if (captureLibrary().deinitCapture)
        captureLibrary().deinitCapture(deviceIndex);
}

void Webcam::close()
{
    if (usable)
        captureLibrary().deinitCapture(deviceIndex);
}

void Webcam::requestFrame()
{
    const CaptureLibraryTable &lib = captureLibrary();
    if (lib.setCaptureBuffer) {
        // Memory given to the library stays this record's until the frame in
        // it is handed on; it is never given again while anyone holds it.
        target = freeFrame();
        if (target &&
            !lib.setCaptureBuffer(deviceIndex, reinterpret_cast<unsigned int *>(target->bits())))
            target = nullptr;
        if (!target)
            lib.setCaptureBuffer(deviceIndex, buffer.get());
    }
    lib.doCapture(deviceIndex);
}

QImage *Webcam::freeFrame()
{
    for (QImage &frame : frames) {
        if (frame.isNull())
            frame = QImage(width, height, QImage::Format_ARGB32);
        if (!frame.isNull() && frame.isDetached())
            return &frame;
    }
    return nullptr;
}

bool Webcam::takeFrame()
{
    if (!captureLibrary().isCaptureDone(deviceIndex))
        return false;
    if (target) {
        image = *target;
        return true;
    }
    // The last frame's memory serves again once nobody else holds it.
    if (!image.isDetached() || image.size() != QSize(width, height) ||
        image.format() != QImage::Format_ARGB32)
        image = QImage(width, height, QImage::Format_ARGB32);
    copyFrameBuffer(buffer.get(), image);
    return true;
}

int Webcam::frameDoneDescriptor() const
{
    const CaptureLibraryTable &lib = captureLibrary();
    return lib.getCaptureDoneDescriptor ? lib.getCaptureDoneDescriptor(deviceIndex) : -1;
}

QString Webcam::errorText() const
{
    // A line of a status bar; anything longer is cut.
    const int maxErrorText = 1 << 16;
    const CaptureLibraryTable &lib = captureLibrary();
    if (!lib.getCaptureErrorText)
        return QString();
    QByteArray text(512, '\0');
    const int length = lib.getCaptureErrorText(deviceIndex, text.data(), text.size());
    if (length >= text.size() && length < maxErrorText) {
        // Long: ask again with room for all of it.
        text.resize(length + 1);
        lib.getCaptureErrorText(deviceIndex, text.data(), text.size());
    }
    // Up to the zero byte the library wrote.
    return QString::fromUtf8(text.constData());
}

QString deviceNameFromBuffer(const char *bytes, int length)
{
    const void *end = std::memchr(bytes, 0, size_t(length));
    const int size = end ? int(static_cast<const char *>(end) - bytes) : length;
    return QString::fromLatin1(bytes, size);
}

QImage imageFromFrameBuffer(const unsigned int *words, int width, int height)
{
    QImage frame(width, height, QImage::Format_ARGB32);
    copyFrameBuffer(words, frame);
    return frame;
}

void copyFrameBuffer(const unsigned int *words, QImage &frame)
{
    const int width = frame.width();
    const size_t rowBytes = size_t(width) * sizeof(unsigned int);
    for (int y = 0; y < frame.height(); ++y)
        std::memcpy(frame.scanLine(y), words + size_t(y) * size_t(width), rowBytes);
}
