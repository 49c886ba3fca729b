// Opens capture devices and leaves main with their pipelines still running,
// the way a program that never closes its cameras ends; with a clip path, the
// first device records a clip into it meanwhile.
#include "escapi.h"
#include "escapiclips.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace
{

SimpleCapParams *openDevices[3];

// Until the device's clips have a first keyframe to start from.
bool waitForKept(int device)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    EventClipStatus status{};
    while (getEventClipStatus(device, &status) && status.keptBytes == 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool waitForFrame(int device)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!isCaptureDone(device)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace

// Usage: escapi_exit_helper <devices> <pending|done> [clip path]
int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    const int devices = std::atoi(argv[1]);
    const bool leavePending = std::strcmp(argv[2], "pending") == 0;
    const char *clip = argc > 3 ? argv[3] : nullptr;
    setenv("ORVELLA_CAPTURE_SOURCES",
           "Demo=demo;Bars=videotestsrc;Clip=videotestsrc pattern=ball ! "
           "video/x-raw,width=64,height=48",
           1);
    initCOM();
    const int count = countCaptureDevices();
    const int first = count - 3;
    for (int i = 0; i < devices; ++i) {
        // Left allocated: the library may write into it until it is closed.
        // Kept reachable, so the leak check at exit does not count it.
        auto *params = new SimpleCapParams{new unsigned int[480 * 320], 480, 320};
        openDevices[i % 3] = params;
        if (clip && i == 0 && !setEventClipPreroll(first, 0))
            return 5;
        if (!initCapture(first + i, params))
            return 3;
        doCapture(first + i);
        if (!waitForFrame(first + i))
            return 4;
        if (clip && i == 0 && (!waitForKept(first) || startEventClip(first, clip) != 1))
            return 6;
        if (leavePending)
            doCapture(first + i);
    }
    return 0;
}
