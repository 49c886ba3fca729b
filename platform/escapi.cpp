// The capture library's entry points. initCapture may run on a worker thread
// while the other entry points run on the program's GUI thread, so the
// shared state below is kept under one lock that no slow call holds; frames
// arrive on the pipelines' own threads (see CapturePipeline).
#include "escapi.h"

#include "capturepipeline.h"
#include "capturesources.h"
#include "capturestatus.h"
#include "cliprecorders.h"
#include "devicename.h"

#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace
{

constexpr int Version = 0x200;
constexpr int MaxSide = 16384;

struct Library {
    std::mutex mutex;
    // Only ever appended to, so an index names the same source for the
    // life of the process.
    std::vector<CaptureSource> sources;
    bool listed = false;
    // Shared so a call that found a pipeline can finish with it while
    // another thread closes the device.
    std::map<int, std::shared_ptr<CapturePipeline>> open;
    // Made on first use and kept, like the sources.
    std::map<int, std::shared_ptr<CaptureStatus>> statuses;
};

// Never destroyed: pipelines are stopped by closeAll at exit instead, before
// anything they use can go away.
Library &library()
{
    static Library *instance = new Library;
    return *instance;
}

void closeAll()
{
    std::map<int, std::shared_ptr<CapturePipeline>> open;
    {
        std::lock_guard<std::mutex> lock(library().mutex);
        open.swap(library().open);
    }
}

void ensureInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] {
        gst_init(nullptr, nullptr);
        std::atexit(closeAll);
    });
}

// Lists the sources attached or configured now into the library's list.
// The slow part, probing the devices, runs without the lock.
void refreshSources()
{
    std::vector<CaptureSource> found = listCaptureSources();
    Library &lib = library();
    std::lock_guard<std::mutex> lock(lib.mutex);
    mergeSources(lib.sources, std::move(found));
    lib.listed = true;
}

bool sourceAt(int deviceno, CaptureSource &source)
{
    ensureInitialised();
    Library &lib = library();
    bool listed;
    {
        std::lock_guard<std::mutex> lock(lib.mutex);
        listed = lib.listed;
    }
    if (!listed)
        refreshSources();
    {
        std::lock_guard<std::mutex> lock(lib.mutex);
        if (deviceno < 0 || std::size_t(deviceno) >= lib.sources.size())
            return false;
        source = lib.sources[std::size_t(deviceno)];
    }
    return true;
}

// The status of a listed device, or null.
std::shared_ptr<CaptureStatus> statusOf(int deviceno)
{
    CaptureSource source;
    if (!sourceAt(deviceno, source))
        return nullptr;
    Library &lib = library();
    std::lock_guard<std::mutex> lock(lib.mutex);
    std::shared_ptr<CaptureStatus> &status = lib.statuses[deviceno];
    if (!status)
        status = std::make_shared<CaptureStatus>();
    return status;
}

std::shared_ptr<CapturePipeline> openPipeline(int deviceno)
{
    Library &lib = library();
    std::lock_guard<std::mutex> lock(lib.mutex);
    const auto it = lib.open.find(deviceno);
    return it == lib.open.end() ? nullptr : it->second;
}

} // namespace

extern "C" {

int ESCAPIDLLVersion(void)
{
    return Version;
}

void initCOM(void)
{
    ensureInitialised();
}

// Looks for new sources on every count (devices plugged in, entries added to
// the cameras file or the environment); they are appended after the known
// ones, which keep their indexes even when gone.
int countCaptureDevices(void)
{
    ensureInitialised();
    refreshSources();
    Library &lib = library();
    std::lock_guard<std::mutex> lock(lib.mutex);
    return int(lib.sources.size());
}

void getCaptureDeviceName(int deviceno, char *namebuffer, int bufferlength)
{
    CaptureSource source;
    copyDeviceName(sourceAt(deviceno, source) ? source.name : std::string(), namebuffer,
                   bufferlength);
}

int initCapture(int deviceno, struct SimpleCapParams *aParams)
{
    deinitCapture(deviceno);
    CaptureSource source;
    if (!sourceAt(deviceno, source) || !aParams || !aParams->buffer || aParams->width <= 0 ||
        aParams->height <= 0 || aParams->width > MaxSide || aParams->height > MaxSide)
        return 0;
    // Bounded: leaves time for tearing a stuck pipeline down within five
    // seconds.
    std::shared_ptr<CapturePipeline> pipeline = CapturePipeline::open(
        source, *aParams, CapturePipeline::Timing(), statusOf(deviceno), clipRecorderFor(deviceno));
    if (!pipeline)
        return 0;
    Library &lib = library();
    std::lock_guard<std::mutex> lock(lib.mutex);
    lib.open[deviceno] = std::move(pipeline);
    return 1;
}

void deinitCapture(int deviceno)
{
    ensureInitialised();
    std::shared_ptr<CapturePipeline> closing;
    {
        Library &lib = library();
        std::lock_guard<std::mutex> lock(lib.mutex);
        const auto it = lib.open.find(deviceno);
        if (it == lib.open.end())
            return;
        closing = std::move(it->second);
        lib.open.erase(it);
    }
    // Torn down here, outside the lock.
}

void doCapture(int deviceno)
{
    if (std::shared_ptr<CapturePipeline> pipeline = openPipeline(deviceno))
        pipeline->requestFrame();
}

int isCaptureDone(int deviceno)
{
    const std::shared_ptr<CapturePipeline> pipeline = openPipeline(deviceno);
    return pipeline && pipeline->frameDone() ? 1 : 0;
}

// Beyond the eight, bound by the program when present (see escapi.h).

// The line stderr got after "orvella: " when the device failed.
int getCaptureErrorText(int deviceno, char *buffer, int length)
{
    const std::shared_ptr<CaptureStatus> status = statusOf(deviceno);
    const std::string text = status ? status->failure() : std::string();
    if (buffer && length > 0) {
        std::size_t size = std::min(text.size(), std::size_t(length - 1));
        // Whole characters only.
        while (size > 0 && size < text.size() && (text[size] & 0xC0) == 0x80)
            --size;
        std::memcpy(buffer, text.data(), size);
        buffer[size] = '\0';
    }
    return int(std::min<std::size_t>(text.size(), INT_MAX));
}

int getCaptureDoneDescriptor(int deviceno)
{
    const std::shared_ptr<CaptureStatus> status = statusOf(deviceno);
    return status ? status->doneDescriptor() : -1;
}

int setCaptureBuffer(int deviceno, unsigned int *buffer)
{
    const std::shared_ptr<CapturePipeline> pipeline = buffer ? openPipeline(deviceno) : nullptr;
    if (!pipeline)
        return 0;
    pipeline->setBuffer(buffer);
    return 1;
}

} // extern "C"
