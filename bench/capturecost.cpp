// Measures the CPU time the capture library takes while a caller asks for
// 480 x 320 frames ten times a second, as the program does.
//
// Usage: escapi_capture_cost '<source description or demo>' [seconds]
// Prints user + system CPU seconds of the whole process over wall seconds.
#include "escapi.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace
{

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s '<description>|demo' [seconds]\n", argv[0]);
        return 2;
    }
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 30;
    setenv("ORVELLA_CAPTURE_SOURCES", (std::string("Measured=") + argv[1]).c_str(), 1);
    initCOM();
    const int device = countCaptureDevices() - 1;
    std::vector<unsigned int> buffer(480 * 320);
    SimpleCapParams params{buffer.data(), 480, 320};
    if (device < 0 || !initCapture(device, &params)) {
        std::fprintf(stderr, "the source did not start\n");
        return 1;
    }

    using Clock = std::chrono::steady_clock;
    const double cpuStart = cpuSeconds();
    const auto start = Clock::now();
    auto tick = start;
    int frames = 0;
    int ticks = 0;
    for (; ticks < seconds * 10; ++ticks) {
        doCapture(device);
        // Short sleeps instead of the program's busy wait, so only the
        // library's own work is counted.
        const auto deadline = tick + std::chrono::milliseconds(100);
        while (!isCaptureDone(device) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        frames += isCaptureDone(device);
        tick = deadline;
        std::this_thread::sleep_until(tick);
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = cpuSeconds() - cpuStart;
    std::printf("%s: %d of %d frames in %.1f s wall, %.2f s CPU = %.1f %% of one core\n", argv[1],
                frames, ticks, wall, cpu, 100 * cpu / wall);
    deinitCapture(device);
    return 0;
}
