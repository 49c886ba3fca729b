// Measures the CPU time the capture library takes while a caller asks for
// 480 x 320 frames ten times a second, as the program does.
//
// Usage: escapi_capture_cost [--clips MS] '<source description, address or demo>' [seconds]
//        escapi_capture_cost [--clips MS] --serve-rtsp '<media launch line>' [seconds]
// Prints user + system CPU seconds of the whole process over wall seconds.
// With --clips, event clips are on with a pre-roll of MS milliseconds, so
// the library keeps the camera's stream (encoding it where it must); it then
// also prints what it kept at the end and the bytes held for it.
// With --serve-rtsp, a child process serves the media (a bin whose payloader
// is named pay0) as an RTSP camera on 127.0.0.1, so the camera's own work
// is not counted.
#ifdef ORVELLA_HAVE_RTSP_SERVER
#include "localrtspserver.h"
#endif

#include "escapi.h"
#include "escapiclips.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

#ifdef ORVELLA_HAVE_RTSP_SERVER
// Serves launch from a child process; returns its address, or empty.
std::string serveRtsp(const char *launch, pid_t &child)
{
    int ends[2];
    if (pipe(ends) != 0)
        return {};
    child = fork();
    if (child == 0) {
        close(ends[0]);
        gst_init(nullptr, nullptr);
        LocalRtspServer server(launch);
        const std::string address = server.listening() ? server.address() : std::string();
        if (write(ends[1], address.c_str(), address.size() + 1) < 0)
            _exit(1);
        close(ends[1]);
        pause(); // until the parent ends it
        _exit(0);
    }
    close(ends[1]);
    char address[256] = {};
    const ssize_t n = read(ends[0], address, sizeof address - 1);
    close(ends[0]);
    return n > 0 ? std::string(address) : std::string();
}
#endif

} // namespace

int main(int argc, char **argv)
{
    const char *program = argv[0];
    int preroll = -1;
    if (argc > 2 && std::string(argv[1]) == "--clips") {
        preroll = std::atoi(argv[2]);
        argv += 2;
        argc -= 2;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s [--clips MS] '<description>|demo' [seconds]\n", program);
        return 2;
    }
    std::string source = argv[1];
    pid_t server = 0;
    if (source == "--serve-rtsp" && argc > 2) {
#ifdef ORVELLA_HAVE_RTSP_SERVER
        source = serveRtsp(argv[2], server);
        if (source.empty()) {
            std::fprintf(stderr, "the RTSP camera did not start\n");
            return 1;
        }
        ++argv;
        --argc;
#else
        std::fprintf(stderr, "built without the RTSP server library\n");
        return 2;
#endif
    }
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 30;
    setenv("ORVELLA_CAPTURE_SOURCES", ("Measured=" + source).c_str(), 1);
    initCOM();
    const int device = countCaptureDevices() - 1;
    std::vector<unsigned int> buffer(480 * 320);
    SimpleCapParams params{buffer.data(), 480, 320};
    const auto stopServer = [server] {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
    };
    using Clock = std::chrono::steady_clock;
    if (preroll >= 0 && !setEventClipPreroll(device, preroll)) {
        std::fprintf(stderr, "no pre-roll of %d ms\n", preroll);
        stopServer();
        return 2;
    }
    const auto opening = Clock::now();
    const bool started = device >= 0 && initCapture(device, &params);
    const auto opened = Clock::now() - opening;
    if (!started) {
        std::fprintf(stderr, "the source did not start\n");
        stopServer();
        return 1;
    }

    const double cpuStart = cpuSeconds();
    const auto start = Clock::now();
    auto tick = start;
    int frames = 0;
    int ticks = 0;
    // doCapture converts a waiting frame on the caller's thread: the longest
    // call is what a caller's event loop may be held up by.
    Clock::duration longestRequest{};
    for (; ticks < seconds * 10; ++ticks) {
        const auto requested = Clock::now();
        doCapture(device);
        longestRequest = std::max(longestRequest, Clock::now() - requested);
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
    std::printf("%s: %d of %d frames in %.1f s wall, %.2f s CPU = %.1f %% of one core; "
                "initCapture %.0f ms, longest doCapture %.2f ms\n",
                argv[1], frames, ticks, wall, cpu, 100 * cpu / wall,
                std::chrono::duration<double, std::milli>(opened).count(),
                std::chrono::duration<double, std::milli>(longestRequest).count());
    EventClipStatus clips{};
    if (preroll >= 0 && getEventClipStatus(device, &clips))
        std::printf("clips: %s, %.1f s kept in %lld bytes\n",
                    clips.encoding ? "encoded by the library" : "the camera's own stream",
                    clips.keptMs / 1000.0, clips.keptBytes);
    deinitCapture(device);
    stopServer();
    return 0;
}
