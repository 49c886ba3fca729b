// The event-clip entry points: thin wrappers around each device's
// ClipRecorder.
#include "escapiclips.h"

#include "cliprecorders.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace
{

// Finishing clips at the end of the process gets this long in all.
constexpr std::chrono::milliseconds ExitWait{5000};

struct Recorders {
    std::mutex mutex;
    std::map<int, std::shared_ptr<ClipRecorder>> byDevice;
};

// Never destroyed: the recorders are shut down at exit instead, while what
// they use still exists.
Recorders &recorders()
{
    static Recorders *instance = new Recorders;
    return *instance;
}

void shutDownAll()
{
    std::map<int, std::shared_ptr<ClipRecorder>> all;
    {
        std::lock_guard<std::mutex> lock(recorders().mutex);
        all = recorders().byDevice;
    }
    const auto deadline = std::chrono::steady_clock::now() + ExitWait;
    for (auto &entry : all)
        entry.second->shutDown(std::chrono::duration_cast<std::chrono::milliseconds>(
            std::max(deadline - std::chrono::steady_clock::now(),
                     std::chrono::steady_clock::duration::zero())));
}

// text into buffer of size bytes with its zero, cut before a UTF-8
// character that does not fit whole.
void copyText(const std::string &text, char *buffer, std::size_t size)
{
    std::size_t length = std::min(text.size(), size - 1);
    if (length < text.size())
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

int milliseconds(GstClockTimeDiff time)
{
    const GstClockTimeDiff ms = time / GST_MSECOND;
    return int(std::clamp<GstClockTimeDiff>(ms, -G_MAXINT, G_MAXINT));
}

} // namespace

std::shared_ptr<ClipRecorder> clipRecorderFor(int deviceno)
{
    static std::once_flag atExit;
    std::call_once(atExit, [] { std::atexit(shutDownAll); });
    std::lock_guard<std::mutex> lock(recorders().mutex);
    std::shared_ptr<ClipRecorder> &recorder = recorders().byDevice[deviceno];
    if (!recorder)
        recorder = ClipRecorder::create();
    return recorder;
}

std::shared_ptr<ClipRecorder> existingClipRecorder(int deviceno)
{
    std::lock_guard<std::mutex> lock(recorders().mutex);
    const auto it = recorders().byDevice.find(deviceno);
    return it == recorders().byDevice.end() ? nullptr : it->second;
}

extern "C" {

int setEventClipPreroll(int deviceno, int prerollMs)
{
    if (deviceno < 0 || prerollMs < -1 || prerollMs > EVENT_CLIP_MAX_PREROLL_MS)
        return 0;
    const std::shared_ptr<ClipRecorder> recorder = clipRecorderFor(deviceno);
    if (prerollMs < 0)
        recorder->stopKeeping();
    else
        recorder->keep(GstClockTime(prerollMs) * GST_MSECOND);
    return 1;
}

int startEventClip(int deviceno, const char *pathUtf8)
{
    if (deviceno < 0 || !pathUtf8 || std::strlen(pathUtf8) >= EVENT_CLIP_PATH_SIZE)
        return 0;
    const std::shared_ptr<ClipRecorder> recorder = existingClipRecorder(deviceno);
    return recorder ? int(recorder->start(pathUtf8)) : 0;
}

int stopEventClip(int deviceno, int postrollMs)
{
    if (deviceno < 0 || postrollMs < 0)
        return 0;
    const std::shared_ptr<ClipRecorder> recorder = existingClipRecorder(deviceno);
    return recorder && recorder->stop(GstClockTime(postrollMs) * GST_MSECOND) ? 1 : 0;
}

int getEventClipStatus(int deviceno, struct EventClipStatus *status)
{
    if (deviceno < 0 || !status)
        return 0;
    const std::shared_ptr<ClipRecorder> recorder = existingClipRecorder(deviceno);
    const ClipRecorder::Status now = recorder ? recorder->status() : ClipRecorder::Status();
    status->state = int(now.state);
    status->keptMs = milliseconds(GstClockTimeDiff(now.kept));
    status->keptBytes = static_cast<long long>(now.keptBytes);
    status->encoding = now.encoding ? 1 : 0;
    return 1;
}

int takeEventClipReport(int deviceno, struct EventClipReport *report)
{
    if (deviceno < 0 || !report)
        return 0;
    const std::shared_ptr<ClipRecorder> recorder = existingClipRecorder(deviceno);
    ClipRecorder::Report taken;
    if (!recorder || !recorder->takeReport(taken))
        return 0;
    report->written = taken.written ? 1 : 0;
    report->prerollMs = milliseconds(taken.preroll);
    report->durationMs = milliseconds(GstClockTimeDiff(taken.duration));
    copyText(taken.path, report->path, sizeof report->path);
    copyText(taken.message, report->message, sizeof report->message);
    return 1;
}

} // extern "C"
