#include "fakeescapi.h"

#include "escapi.h"
#include "escapiclips.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace
{

struct Device {
    int index = 0;
    std::string name;
    std::string errorText;
    int initResult = 1;
    int initDelayMs = 0;
    bool initRunning = false;
    SimpleCapParams params{};
    bool open = false;
    bool stalled = false;
    bool repeatLast = true;
    bool descriptorStuck = false;
    bool wanted = false;
    bool done = false;
    std::deque<std::vector<unsigned int>> frames;

    // Event clips: -1 while off. The clip taking pictures (stopped: in its
    // post-roll), the clips being finished with their notes, and the reports.
    int clipPreroll = -1;
    int clipStartResult = -1; // what startEventClip answers, -1: as the library would
    int clipEncoding = 0;
    std::string clipPath;
    bool clipStopped = false;
    int clipPostroll = -1;
    std::vector<std::pair<std::string, std::string>> finishingClips;
    std::deque<EventClipReport> clipReports;
};

struct State {
    bool loadable = true;
    int version = ESCAPI_REQUIRED_VERSION;
    int count = 0;
    std::set<std::string> missing;
    std::map<int, Device> devices;
    std::map<std::string, int> calls;
    std::map<std::pair<std::string, int>, int> deviceCalls;
    std::map<std::string, int> offThreadCalls;
    int overlaps = 0;
    std::string log;
    std::thread::id owner = std::this_thread::get_id();
};

// Tests call in from the GUI thread and from the program's worker thread.
std::mutex lock;

State &state()
{
    static State s;
    return s;
}

Device &device(int index)
{
    Device &d = state().devices[index];
    if (d.name.empty())
        d.name = "Fake Camera " + std::to_string(index);
    d.index = index;
    return d;
}

// One frame-done descriptor per device for the life of the process, as the
// library keeps them; a reset only empties them.
std::map<int, int> &doneDescriptors()
{
    static std::map<int, int> descriptors;
    return descriptors;
}

int doneDescriptor(int index)
{
    int &fd = doneDescriptors()[index];
    if (fd == 0)
        fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return fd;
}

// Makes the descriptor readable exactly while done is set.
void setDone(Device &d, bool done)
{
    d.done = done;
    const int fd = doneDescriptor(d.index);
    eventfd_t count = 0;
    eventfd_read(fd, &count);
    if (done || d.descriptorStuck)
        eventfd_write(fd, 1);
}

void note(const char *entry, int index = -1)
{
    State &s = state();
    ++s.calls[entry];
    if (std::this_thread::get_id() != s.owner)
        ++s.offThreadCalls[entry];
    if (index >= 0) {
        if (device(index).initRunning)
            ++s.overlaps;
        ++s.deviceCalls[{entry, index}];
        s.log += std::string(entry) + "(" + std::to_string(index) + ") ";
    } else {
        s.log += std::string(entry) + "() ";
    }
}

// Completes an open request when a frame is there to fill it.
void deliver(Device &d)
{
    if (!d.open || !d.wanted || d.stalled || d.frames.empty())
        return;
    const std::vector<unsigned int> &frame = d.frames.front();
    const size_t words = size_t(d.params.width) * size_t(d.params.height);
    std::copy_n(frame.begin(), std::min(words, frame.size()), d.params.buffer);
    if (d.frames.size() > 1 || !d.repeatLast)
        d.frames.pop_front();
    d.wanted = false;
    setDone(d, true);
}

// The clip taking pictures stops taking them and waits to be finished.
void endClip(Device &d, const std::string &why)
{
    if (d.clipPath.empty())
        return;
    d.finishingClips.emplace_back(d.clipPath, why);
    d.clipPath.clear();
    d.clipStopped = false;
}

EventClipReport clipReport(const Device &d, const std::string &path, bool written,
                           const std::string &message)
{
    EventClipReport report{};
    report.written = written ? 1 : 0;
    report.prerollMs = std::max(d.clipPreroll, 0);
    std::snprintf(report.path, sizeof report.path, "%s", path.c_str());
    std::snprintf(report.message, sizeof report.message, "%s", message.c_str());
    return report;
}

} // namespace

// The capture library's entry points.

int countCaptureDevices(void)
{
    std::lock_guard<std::mutex> guard(lock);
    note("countCaptureDevices");
    return state().count;
}

int initCapture(int deviceno, SimpleCapParams *aParams)
{
    int delayMs = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        note("initCapture", deviceno);
        Device &d = device(deviceno);
        d.initRunning = true;
        delayMs = d.initDelayMs;
    }
    // Slept without the lock, so the other thread's calls are not held up.
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));

    std::lock_guard<std::mutex> guard(lock);
    Device &d = device(deviceno);
    d.initRunning = false;
    if (!d.initResult)
        return 0;
    d.params = *aParams;
    d.open = true;
    d.wanted = false;
    setDone(d, false);
    return d.initResult;
}

void deinitCapture(int deviceno)
{
    std::lock_guard<std::mutex> guard(lock);
    note("deinitCapture", deviceno);
    Device &d = device(deviceno);
    endClip(d, "the camera was closed");
    d.open = false;
    d.wanted = false;
    setDone(d, false);
}

void doCapture(int deviceno)
{
    std::lock_guard<std::mutex> guard(lock);
    note("doCapture", deviceno);
    Device &d = device(deviceno);
    setDone(d, false);
    d.wanted = d.open;
    deliver(d);
}

int isCaptureDone(int deviceno)
{
    std::lock_guard<std::mutex> guard(lock);
    note("isCaptureDone", deviceno);
    return device(deviceno).done ? 1 : 0;
}

void initCOM(void)
{
    std::lock_guard<std::mutex> guard(lock);
    note("initCOM");
}

void getCaptureDeviceName(int deviceno, char *namebuffer, int bufferlength)
{
    std::lock_guard<std::mutex> guard(lock);
    note("getCaptureDeviceName", deviceno);
    const std::string &name = device(deviceno).name;
    std::memset(namebuffer, 0, size_t(bufferlength));
    std::memcpy(namebuffer, name.data(), std::min(name.size(), size_t(bufferlength)));
}

int ESCAPIDLLVersion(void)
{
    std::lock_guard<std::mutex> guard(lock);
    note("ESCAPIDLLVersion");
    return state().version;
}

int getCaptureErrorText(int deviceno, char *buffer, int length)
{
    std::lock_guard<std::mutex> guard(lock);
    note("getCaptureErrorText", deviceno);
    const std::string &text = device(deviceno).errorText;
    if (buffer && length > 0) {
        const size_t size = std::min(text.size(), size_t(length - 1));
        std::memcpy(buffer, text.data(), size);
        buffer[size] = '\0';
    }
    return int(text.size());
}

int getCaptureDoneDescriptor(int deviceno)
{
    std::lock_guard<std::mutex> guard(lock);
    note("getCaptureDoneDescriptor", deviceno);
    return doneDescriptor(deviceno);
}

// Left out of the call log, which follows the program's device sequences.
int setCaptureBuffer(int deviceno, unsigned int *buffer)
{
    std::lock_guard<std::mutex> guard(lock);
    Device &d = device(deviceno);
    if (!d.open || !buffer)
        return 0;
    d.params.buffer = buffer;
    return 1;
}

int setEventClipPreroll(int deviceno, int prerollMs)
{
    std::lock_guard<std::mutex> guard(lock);
    note("setEventClipPreroll", deviceno);
    if (deviceno < 0 || prerollMs < -1 || prerollMs > EVENT_CLIP_MAX_PREROLL_MS)
        return 0;
    Device &d = device(deviceno);
    d.clipPreroll = prerollMs;
    if (prerollMs < 0)
        endClip(d, "clips were turned off");
    return 1;
}

int startEventClip(int deviceno, const char *pathUtf8)
{
    std::lock_guard<std::mutex> guard(lock);
    note("startEventClip", deviceno);
    Device &d = device(deviceno);
    if (d.clipStartResult >= 0)
        return d.clipStartResult;
    if (!pathUtf8 || !*pathUtf8 || std::strlen(pathUtf8) >= EVENT_CLIP_PATH_SIZE ||
        d.clipPreroll < 0 || !d.open)
        return 0;
    if (!d.clipPath.empty()) {
        d.clipStopped = false;
        return 2;
    }
    d.clipPath = pathUtf8;
    return 1;
}

int stopEventClip(int deviceno, int postrollMs)
{
    std::lock_guard<std::mutex> guard(lock);
    note("stopEventClip", deviceno);
    Device &d = device(deviceno);
    if (postrollMs < 0 || d.clipPath.empty() || d.clipStopped)
        return 0;
    d.clipStopped = true;
    d.clipPostroll = postrollMs;
    return 1;
}

int getEventClipStatus(int deviceno, EventClipStatus *status)
{
    std::lock_guard<std::mutex> guard(lock);
    note("getEventClipStatus", deviceno);
    if (deviceno < 0 || !status)
        return 0;
    const Device &d = device(deviceno);
    status->state = !d.clipPath.empty()
                        ? (d.clipStopped ? EVENT_CLIP_POSTROLL : EVENT_CLIP_RECORDING)
                    : !d.finishingClips.empty() ? EVENT_CLIP_FINISHING
                                                : EVENT_CLIP_IDLE;
    status->keptMs = d.open && d.clipPreroll > 0 ? d.clipPreroll : 0;
    status->keptBytes = status->keptMs * 1000LL;
    status->encoding = d.open && d.clipPreroll >= 0 ? d.clipEncoding : 0;
    return 1;
}

int takeEventClipReport(int deviceno, EventClipReport *report)
{
    std::lock_guard<std::mutex> guard(lock);
    note("takeEventClipReport", deviceno);
    Device &d = device(deviceno);
    if (!report || d.clipReports.empty())
        return 0;
    *report = d.clipReports.front();
    d.clipReports.pop_front();
    return 1;
}

// Control functions.

void fakeEscapi_reset(void)
{
    std::lock_guard<std::mutex> guard(lock);
    state() = State();
    for (const auto &entry : doneDescriptors()) {
        eventfd_t count = 0;
        eventfd_read(entry.second, &count);
    }
}

void fakeEscapi_setDescriptorStuck(int index, int stuck)
{
    std::lock_guard<std::mutex> guard(lock);
    Device &d = device(index);
    d.descriptorStuck = stuck != 0;
    setDone(d, d.done);
}

void fakeEscapi_setClipStartResult(int index, int result)
{
    std::lock_guard<std::mutex> guard(lock);
    device(index).clipStartResult = result;
}

void fakeEscapi_setClipEncoding(int index, int encoding)
{
    std::lock_guard<std::mutex> guard(lock);
    device(index).clipEncoding = encoding;
}

void fakeEscapi_finishClips(int index, int written, const char *message)
{
    std::lock_guard<std::mutex> guard(lock);
    Device &d = device(index);
    if (d.clipStopped)
        endClip(d, std::string());
    for (const auto &clip : d.finishingClips)
        d.clipReports.push_back(clipReport(d, clip.first, written != 0,
                                           written && message && !*message ? clip.second
                                           : message                       ? message
                                                                           : ""));
    d.finishingClips.clear();
}

void fakeEscapi_failClip(int index, const char *message)
{
    std::lock_guard<std::mutex> guard(lock);
    Device &d = device(index);
    if (d.clipPath.empty())
        return;
    d.clipReports.push_back(clipReport(d, d.clipPath, false, message ? message : ""));
    d.clipPath.clear();
    d.clipStopped = false;
}

const char *fakeEscapi_clipPath(int index)
{
    std::lock_guard<std::mutex> guard(lock);
    return device(index).clipPath.c_str();
}

int fakeEscapi_clipPreroll(int index)
{
    std::lock_guard<std::mutex> guard(lock);
    return device(index).clipPreroll;
}

int fakeEscapi_clipPostroll(int index)
{
    std::lock_guard<std::mutex> guard(lock);
    return device(index).clipPostroll;
}

void fakeEscapi_setErrorText(int index, const char *text)
{
    std::lock_guard<std::mutex> guard(lock);
    device(index).errorText = text;
}

void fakeEscapi_setDeviceCount(int count)
{
    std::lock_guard<std::mutex> guard(lock);
    state().count = count;
}

void fakeEscapi_setDeviceName(int index, const char *bytes, int length)
{
    std::lock_guard<std::mutex> guard(lock);
    device(index).name.assign(bytes, size_t(std::min(length, 512)));
}

void fakeEscapi_setVersion(int version)
{
    std::lock_guard<std::mutex> guard(lock);
    state().version = version;
}

void fakeEscapi_setInitResult(int index, int result)
{
    std::lock_guard<std::mutex> guard(lock);
    device(index).initResult = result;
}

void fakeEscapi_setInitDelay(int index, int milliseconds)
{
    std::lock_guard<std::mutex> guard(lock);
    device(index).initDelayMs = std::max(0, milliseconds);
}

void fakeEscapi_setLoadable(int loadable)
{
    std::lock_guard<std::mutex> guard(lock);
    state().loadable = loadable != 0;
}

int fakeEscapi_isLoadable(void)
{
    std::lock_guard<std::mutex> guard(lock);
    return state().loadable ? 1 : 0;
}

void fakeEscapi_setMissing(const char *entryPoint)
{
    std::lock_guard<std::mutex> guard(lock);
    state().missing.insert(entryPoint);
}

int fakeEscapi_isMissing(const char *entryPoint)
{
    std::lock_guard<std::mutex> guard(lock);
    return state().missing.count(entryPoint) ? 1 : 0;
}

void fakeEscapi_noteLoad(void)
{
    std::lock_guard<std::mutex> guard(lock);
    note("load");
}

void fakeEscapi_queueFrame(int index, const unsigned int *words, int count)
{
    std::lock_guard<std::mutex> guard(lock);
    Device &d = device(index);
    d.frames.emplace_back(words, words + count);
    deliver(d);
}

void fakeEscapi_clearFrames(int index)
{
    std::lock_guard<std::mutex> guard(lock);
    device(index).frames.clear();
}

void fakeEscapi_setStalled(int index, int stalled)
{
    std::lock_guard<std::mutex> guard(lock);
    Device &d = device(index);
    d.stalled = stalled != 0;
    deliver(d);
}

void fakeEscapi_setRepeatLast(int index, int repeat)
{
    std::lock_guard<std::mutex> guard(lock);
    device(index).repeatLast = repeat != 0;
}

int fakeEscapi_isOpen(int index)
{
    std::lock_guard<std::mutex> guard(lock);
    return device(index).open ? 1 : 0;
}

int fakeEscapi_callCount(const char *entryPoint)
{
    std::lock_guard<std::mutex> guard(lock);
    auto it = state().calls.find(entryPoint);
    return it == state().calls.end() ? 0 : it->second;
}

int fakeEscapi_deviceCallCount(const char *entryPoint, int index)
{
    std::lock_guard<std::mutex> guard(lock);
    auto it = state().deviceCalls.find({entryPoint, index});
    return it == state().deviceCalls.end() ? 0 : it->second;
}

int fakeEscapi_offThreadCallCount(const char *entryPoint)
{
    std::lock_guard<std::mutex> guard(lock);
    auto it = state().offThreadCalls.find(entryPoint);
    return it == state().offThreadCalls.end() ? 0 : it->second;
}

int fakeEscapi_overlapCount(void)
{
    std::lock_guard<std::mutex> guard(lock);
    return state().overlaps;
}

const char *fakeEscapi_callLog(void)
{
    std::lock_guard<std::mutex> guard(lock);
    return state().log.c_str();
}
