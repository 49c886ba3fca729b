// The capture library's entry points. Every call comes from the program's GUI
// thread; frames arrive on the pipelines' own threads (see CapturePipeline).
#include "escapi.h"

#include "capturepipeline.h"
#include "capturesources.h"
#include "devicename.h"

#include <gst/gst.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace
{

constexpr int Version = 0x200;
constexpr int MaxSide = 16384;
// Leaves time for tearing a stuck pipeline down within five seconds.
constexpr std::chrono::milliseconds StartTimeout(4000);

struct Library {
    bool listed = false;
    std::vector<CaptureSource> sources;
    std::map<int, std::unique_ptr<CapturePipeline>> open;
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
    library().open.clear();
}

void ensureInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] {
        gst_init(nullptr, nullptr);
        std::atexit(closeAll);
    });
}

const CaptureSource *sourceAt(int deviceno)
{
    ensureInitialised();
    Library &lib = library();
    if (!lib.listed) {
        lib.sources = listCaptureSources();
        lib.listed = true;
    }
    if (deviceno < 0 || std::size_t(deviceno) >= lib.sources.size())
        return nullptr;
    return &lib.sources[std::size_t(deviceno)];
}

CapturePipeline *openPipeline(int deviceno)
{
    auto &open = library().open;
    const auto it = open.find(deviceno);
    return it == open.end() ? nullptr : it->second.get();
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

// Lists the sources afresh, so the environment is read again on every count.
int countCaptureDevices(void)
{
    ensureInitialised();
    Library &lib = library();
    lib.sources = listCaptureSources();
    lib.listed = true;
    return int(lib.sources.size());
}

void getCaptureDeviceName(int deviceno, char *namebuffer, int bufferlength)
{
    const CaptureSource *source = sourceAt(deviceno);
    copyDeviceName(source ? source->name : std::string(), namebuffer, bufferlength);
}

int initCapture(int deviceno, struct SimpleCapParams *aParams)
{
    deinitCapture(deviceno);
    const CaptureSource *source = sourceAt(deviceno);
    if (!source || !aParams || !aParams->buffer || aParams->width <= 0 || aParams->height <= 0 ||
        aParams->width > MaxSide || aParams->height > MaxSide)
        return 0;
    std::unique_ptr<CapturePipeline> pipeline =
        CapturePipeline::open(*source, *aParams, StartTimeout);
    if (!pipeline)
        return 0;
    library().open[deviceno] = std::move(pipeline);
    return 1;
}

void deinitCapture(int deviceno)
{
    ensureInitialised();
    library().open.erase(deviceno);
}

void doCapture(int deviceno)
{
    if (CapturePipeline *pipeline = openPipeline(deviceno))
        pipeline->requestFrame();
}

int isCaptureDone(int deviceno)
{
    CapturePipeline *pipeline = openPipeline(deviceno);
    return pipeline && pipeline->frameDone() ? 1 : 0;
}

} // extern "C"
