#include "fakeescapi.h"

#include "escapi.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

struct Device {
    std::string name;
    int initResult = 1;
    SimpleCapParams params{};
    bool open = false;
    bool stalled = false;
    bool done = false;
    std::deque<std::vector<unsigned int>> frames;
};

struct State {
    bool loadable = true;
    int version = ESCAPI_REQUIRED_VERSION;
    int count = 0;
    std::set<std::string> missing;
    std::map<int, Device> devices;
    std::map<std::string, int> calls;
    std::map<std::pair<std::string, int>, int> deviceCalls;
    std::string log;
};

State &state()
{
    static State s;
    return s;
}

void note(const char *entry, int device = -1)
{
    State &s = state();
    ++s.calls[entry];
    if (device >= 0) {
        ++s.deviceCalls[{entry, device}];
        s.log += std::string(entry) + "(" + std::to_string(device) + ") ";
    } else {
        s.log += std::string(entry) + "() ";
    }
}

Device &device(int index)
{
    Device &d = state().devices[index];
    if (d.name.empty())
        d.name = "Fake Camera " + std::to_string(index);
    return d;
}

} // namespace

// The capture library's entry points.

int countCaptureDevices(void)
{
    note("countCaptureDevices");
    return state().count;
}

int initCapture(int deviceno, SimpleCapParams *aParams)
{
    note("initCapture", deviceno);
    Device &d = device(deviceno);
    if (!d.initResult)
        return 0;
    d.params = *aParams;
    d.open = true;
    d.done = false;
    return d.initResult;
}

void deinitCapture(int deviceno)
{
    note("deinitCapture", deviceno);
    Device &d = device(deviceno);
    d.open = false;
    d.done = false;
}

void doCapture(int deviceno)
{
    note("doCapture", deviceno);
    Device &d = device(deviceno);
    d.done = false;
    if (!d.open || d.stalled || d.frames.empty())
        return;
    const std::vector<unsigned int> &frame = d.frames.front();
    const size_t words = size_t(d.params.width) * size_t(d.params.height);
    std::copy_n(frame.begin(), std::min(words, frame.size()), d.params.buffer);
    if (d.frames.size() > 1)
        d.frames.pop_front();
    d.done = true;
}

int isCaptureDone(int deviceno)
{
    note("isCaptureDone", deviceno);
    return device(deviceno).done ? 1 : 0;
}

void initCOM(void)
{
    note("initCOM");
}

void getCaptureDeviceName(int deviceno, char *namebuffer, int bufferlength)
{
    note("getCaptureDeviceName", deviceno);
    const std::string &name = device(deviceno).name;
    std::memset(namebuffer, 0, size_t(bufferlength));
    std::memcpy(namebuffer, name.data(), std::min(name.size(), size_t(bufferlength)));
}

int ESCAPIDLLVersion(void)
{
    note("ESCAPIDLLVersion");
    return state().version;
}

// Control functions.

void fakeEscapi_reset(void)
{
    state() = State();
}

void fakeEscapi_setDeviceCount(int count)
{
    state().count = count;
}

void fakeEscapi_setDeviceName(int index, const char *bytes, int length)
{
    device(index).name.assign(bytes, size_t(std::min(length, 512)));
}

void fakeEscapi_setVersion(int version)
{
    state().version = version;
}

void fakeEscapi_setInitResult(int index, int result)
{
    device(index).initResult = result;
}

void fakeEscapi_setLoadable(int loadable)
{
    state().loadable = loadable != 0;
}

int fakeEscapi_isLoadable(void)
{
    return state().loadable ? 1 : 0;
}

void fakeEscapi_setMissing(const char *entryPoint)
{
    state().missing.insert(entryPoint);
}

int fakeEscapi_isMissing(const char *entryPoint)
{
    return state().missing.count(entryPoint) ? 1 : 0;
}

void fakeEscapi_noteLoad(void)
{
    note("load");
}

void fakeEscapi_queueFrame(int index, const unsigned int *words, int count)
{
    device(index).frames.emplace_back(words, words + count);
}

void fakeEscapi_clearFrames(int index)
{
    device(index).frames.clear();
}

void fakeEscapi_setStalled(int index, int stalled)
{
    device(index).stalled = stalled != 0;
}

int fakeEscapi_callCount(const char *entryPoint)
{
    auto it = state().calls.find(entryPoint);
    return it == state().calls.end() ? 0 : it->second;
}

int fakeEscapi_deviceCallCount(const char *entryPoint, int index)
{
    auto it = state().deviceCalls.find({entryPoint, index});
    return it == state().deviceCalls.end() ? 0 : it->second;
}

const char *fakeEscapi_callLog(void)
{
    return state().log.c_str();
}
