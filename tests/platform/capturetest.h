#ifndef ORVELLA_CAPTURETEST_H
#define ORVELLA_CAPTURETEST_H

#include "escapi.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>

#include <gst/gst.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

// Counts the devices again and returns the index of the newest source of
// that name (the library only ever appends to its list), or -1.
inline int deviceNamed(const QByteArray &name)
{
    for (int i = countCaptureDevices() - 1; i >= 0; --i) {
        char text[512];
        getCaptureDeviceName(i, text, sizeof text);
        if (name == text)
            return i;
    }
    return -1;
}

// Sets the extra sources and counts the devices again; returns the index of
// the source named like the first entry.
inline int useCaptureSources(const QByteArray &sources)
{
    qputenv("ORVELLA_CAPTURE_SOURCES", sources);
    return deviceNamed(sources.left(sources.indexOf('=')).trimmed());
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

// Sends what is written to stderr into a file while it lives.
class StderrCapture
{
public:
    StderrCapture()
    {
        m_file.open();
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        ::dup2(m_file.handle(), STDERR_FILENO);
    }
    ~StderrCapture()
    {
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        // Shown in the test's output, as it would have been.
        const QByteArray seen = text();
        std::fwrite(seen.constData(), 1, std::size_t(seen.size()), stderr);
    }
    QByteArray text()
    {
        QFile file(m_file.fileName());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

// Runs a GStreamer pipeline that ends by itself, such as one writing a test
// clip; true when it reached its end without an error.
inline bool runToEnd(const QByteArray &launch)
{
    GstElement *pipeline = gst_parse_launch(launch.constData(), nullptr);
    if (!pipeline)
        return false;
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *end = gst_bus_timed_pop_filtered(
        bus, 30 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool done = end && GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS;
    if (end)
        gst_message_unref(end);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return done;
}

// Opens on a thread of its own, as the program does: a camera served by
// this thread's event loop would not start otherwise.
inline bool openCamera(int device, SimpleCapParams *params)
{
    std::atomic<int> opened{-1};
    std::unique_ptr<QThread> opener(QThread::create([&] { opened = initCapture(device, params); }));
    opener->start();
    if (!QTest::qWaitFor([&] { return opener->isFinished(); }, 15000))
        return false;
    opener->wait();
    return opened == 1;
}

#endif
