// Times filterImage against OpenCV's medianBlur and blur on the same
// 480 x 320 four-channel frame, in one process and on one thread, and
// prints a table with the ratios. Each row alternates between the two
// many times and reports the medians of the thread's processor time, so a
// busy machine slows both alike.
//
//     opencv_compare [rounds]
//
// Ours is timed as the tick calls it: from the shared frame, so the time
// includes the copy the in-place pass works on. OpenCV writes into a
// destination allocated once.

#include "imagefilter.h"
#include "sampleframes.h"

#ifdef ORVELLA_WAVEFRONT_FILTER
#include "cpufeatures.h"
#include "wavefrontfilter.h"
#endif

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

namespace
{

// Milliseconds of this thread's processor time, so that time given to other
// processes on a busy machine does not count.
double threadMilliseconds()
{
#ifdef CLOCK_THREAD_CPUTIME_ID
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
#else
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
#endif
}

// Milliseconds per call of f, from a batch long enough for the clock.
double timeBatch(const std::function<void()> &f, int calls)
{
    const double start = threadMilliseconds();
    for (int i = 0; i < calls; ++i)
        f();
    return (threadMilliseconds() - start) / calls;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The medians of a and b, timed in turns.
std::pair<double, double> race(const std::function<void()> &a, const std::function<void()> &b,
                               int rounds)
{
    a();
    b();
    // About 20 ms a batch.
    const double once = std::max(1e-3, std::min(timeBatch(a, 3), timeBatch(b, 3)));
    const int calls = std::max(1, int(20.0 / once));
    std::vector<double> ta, tb;
    for (int r = 0; r < rounds; ++r) {
        ta.push_back(timeBatch(a, calls));
        tb.push_back(timeBatch(b, calls));
    }
    return {median(ta), median(tb)};
}

cv::Mat wrap(QImage &image)
{
    return cv::Mat(image.height(), image.width(), CV_8UC4, image.bits(),
                   size_t(image.bytesPerLine()));
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    cv::setNumThreads(0);

    QImage frame = cameraLikeFrame(480, 320, 2024);
    const cv::Mat source = wrap(frame);
    cv::Mat target(source.size(), source.type());
    QImage result;

    std::printf(
        "480 x 320, 4 channels, one thread; median of %d rounds, ms of processor time per frame\n",
        rounds);
    std::printf("OpenCV %s\n\n", CV_VERSION);
    std::printf("%-12s %10s %10s %8s\n", "filter", "Orvella", "OpenCV", "ratio");
    for (int type : {Median, Mean}) {
        for (int k : {3, 5, 7}) {
            auto ours = [&] { result = filterImage(frame, unsigned(k), type); };
            auto theirs = [&] {
                if (type == Median)
                    cv::medianBlur(source, target, k);
                else
                    cv::blur(source, target, cv::Size(k, k));
            };
            const auto [a, b] = race(ours, theirs, rounds);
            char name[32];
            std::snprintf(name, sizeof name, "%s %dx%d", type == Median ? "median" : "mean", k, k);
            std::printf("%-12s %10.3f %10.3f %8.2f\n", name, a, b, a / b);
        }
    }

#ifdef ORVELLA_WAVEFRONT_FILTER
    // The vector passes alone, on a copy made outside the clock.
    struct Pass {
        const char *name;
        bool (*run)(quint32 *, int, int, int, int, bool);
        bool usable;
    };
    const Pass passes[] = {
        {"SSE2", filterWavefrontSse2, true},
        {"AVX2", filterWavefrontAvx2, cpuHasAvx2()},
        {"AVX-512", filterWavefrontAvx512, cpuHasAvx512()},
    };
    const size_t avx2 = 1;
    std::printf("\nvector passes alone, ms per frame (ratio to AVX2)\n%-12s", "filter");
    for (const Pass &p : passes)
        std::printf(" %15s", p.name);
    std::printf("\n");
    QImage work = frame.copy();
    for (int type : {Median, Mean}) {
        for (int k : {3, 5, 7}) {
            std::vector<double> ms;
            for (const Pass &p : passes) {
                if (!p.usable) {
                    ms.push_back(0);
                    continue;
                }
                std::vector<double> t;
                for (int r = 0; r < rounds; ++r) {
                    std::memcpy(work.bits(), frame.constBits(), size_t(frame.sizeInBytes()));
                    const double start = threadMilliseconds();
                    p.run(reinterpret_cast<quint32 *>(work.bits()), work.bytesPerLine() / 4,
                          work.width(), work.height(), (k - 1) / 2, type == Median);
                    t.push_back(threadMilliseconds() - start);
                }
                ms.push_back(median(t));
            }
            std::printf("%-6s %dx%d  ", type == Median ? "median" : "mean", k, k);
            for (size_t i = 0; i < ms.size(); ++i) {
                if (ms[i] == 0)
                    std::printf(" %15s", "-");
                else
                    std::printf(" %7.3f (%4.2fx)", ms[i], ms[avx2] > 0 ? ms[i] / ms[avx2] : 0.0);
            }
            std::printf("\n");
        }
    }
#endif
    return 0;
}
