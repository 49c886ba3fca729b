#ifndef ORVELLA_CAPTURETEST_H
#define ORVELLA_CAPTURETEST_H

#include "escapi.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QThread>

#include <cstdlib>
#include <vector>

// Sets the extra sources and lists the devices again; returns the index of
// the first extra source (attached cameras come before them).
inline int useCaptureSources(const QByteArray &sources)
{
    qputenv("ORVELLA_CAPTURE_SOURCES", sources);
    static const int cameras = [] {
        const QByteArray saved = qgetenv("ORVELLA_CAPTURE_SOURCES");
        qunsetenv("ORVELLA_CAPTURE_SOURCES");
        initCOM();
        const int count = countCaptureDevices();
        qputenv("ORVELLA_CAPTURE_SOURCES", saved);
        return count;
    }();
    countCaptureDevices();
    return cameras;
}

// Asks for a frame and waits for it at most timeoutMs; true once it is done.
inline bool captureFrame(int device, int timeoutMs = 3000)
{
    doCapture(device);
    QElapsedTimer timer;
    timer.start();
    while (!isCaptureDone(device)) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::usleep(200);
    }
    return true;
}

// A frame buffer followed by guard words that no frame may touch.
struct GuardedFrame {
    static constexpr unsigned int Guard = 0x12345678u;
    static constexpr int GuardWords = 64;

    GuardedFrame(int width, int height)
        : words(std::size_t(width * height + GuardWords), Guard), params{words.data(), width,
                                                                         height}
    {
    }
    int pixelCount() const { return params.width * params.height; }
    bool guardIntact() const
    {
        for (std::size_t i = std::size_t(pixelCount()); i < words.size(); ++i)
            if (words[i] != Guard)
                return false;
        return true;
    }

    // Not a Qt container: implicit sharing would hide writes made through
    // the raw pointer handed to the library.
    std::vector<unsigned int> words;
    SimpleCapParams params;
};

// The program's level: 1000 times the mean one-sided darkening per channel.
inline double darkeningLevel(const unsigned int *previous, const unsigned int *current, int count)
{
    double sum = 0;
    for (int i = 0; i < count; ++i)
        for (int shift = 0; shift < 24; shift += 8) {
            const int d = int(previous[i] >> shift & 0xFF) - int(current[i] >> shift & 0xFF);
            if (d > 0)
                sum += d / 255.0 / 3;
        }
    return 1000 * sum / count;
}

#endif
