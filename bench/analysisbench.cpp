#include "brightness.h"
#include "framecomparison.h"
#include "frameprocessing.h"
#include "framestatistics.h"
#include "imagefilter.h"
#include "lightingchange.h"
#include "movingarea.h"
#include "referencefilter.h"
#include "sampleframes.h"
#include "steadymovement.h"
#include "watchtick.h"
#include "webcam.h"

#include <QBuffer>
#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

namespace
{

const int frameWidth = 480;
const int frameHeight = 320;

// A camera-like frame, the same on every run.
const QImage &sampleFrame()
{
    static const QImage frame = cameraLikeFrame(frameWidth, frameHeight, 2024);
    return frame;
}

void filterArguments(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"kernel", "mean"});
    for (int type : {Median, Mean})
        for (int kernelSize : {3, 5, 7})
            b->Args({kernelSize, type});
}

void BM_ReferenceFilter(benchmark::State &state)
{
    const auto kernelSize = unsigned(state.range(0));
    const int type = int(state.range(1));
    for (auto _ : state)
        benchmark::DoNotOptimize(referenceFilterImage(sampleFrame(), kernelSize, type));
}

void BM_FastFilter(benchmark::State &state)
{
    const auto kernelSize = unsigned(state.range(0));
    const int type = int(state.range(1));
    for (auto _ : state)
        benchmark::DoNotOptimize(filterImage(sampleFrame(), kernelSize, type));
}

// A 7x7 pass on a frame that comes a tenth of a second after the last, as a
// camera's do: the caches and the processor have gone on to other things
// by then, which costs a pass more than it does run after run.
void BM_FilterAfterPause(benchmark::State &state)
{
    const int type = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        state.ResumeTiming();
        benchmark::DoNotOptimize(filterImage(sampleFrame(), 7, type));
    }
}

// One tick's image work: median then mean 7x7, a brightness offset and the
// comparison with the previous frame, difference image included.
void BM_WholeTick(benchmark::State &state)
{
    const QImage previous = processFrame(cameraLikeFrame(frameWidth, frameHeight, 7), 3, 2, 12);
    QImage difference;
    for (auto _ : state) {
        const QImage processed = processFrame(sampleFrame(), 3, 2, 12);
        benchmark::DoNotOptimize(compareFrames(previous, processed, difference));
    }
}

// A tick as the window runs it for each filter setting at the default
// brightness: frame read-out from the camera buffer, filtering, comparison.
void BM_TickBySetting(benchmark::State &state)
{
    const int filterChoice = int(state.range(0));
    const int kernelIndex = int(state.range(1));
    const QImage camera = sampleFrame();
    const auto *words = reinterpret_cast<const unsigned int *>(camera.constBits());
    const QImage previous =
        processFrame(cameraLikeFrame(frameWidth, frameHeight, 7), filterChoice, kernelIndex, 10);
    QImage difference;
    for (auto _ : state) {
        const QImage frame = imageFromFrameBuffer(words, frameWidth, frameHeight);
        const QImage processed = processFrame(frame, filterChoice, kernelIndex, 10);
        benchmark::DoNotOptimize(compareFrames(previous, processed, difference));
    }
}

void tickSettings(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"filter", "kernel"});
    b->Args({0, 0});
    for (int filterChoice : {1, 2, 3})
        for (int kernelIndex : {0, 1, 2})
            b->Args({filterChoice, kernelIndex});
}

void BM_BrightnessOffset(benchmark::State &state)
{
    QImage frame = sampleFrame().copy();
    for (auto _ : state)
        applyBrightnessOffset(frame, 25);
}

void BM_CompareFrames(benchmark::State &state)
{
    const QImage previous = cameraLikeFrame(frameWidth, frameHeight, 7);
    QImage difference;
    for (auto _ : state)
        benchmark::DoNotOptimize(compareFrames(previous, sampleFrame(), difference));
}

// A frame saved as recording does, at the default quality.
void BM_JpegEncode(benchmark::State &state)
{
    for (auto _ : state) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        if (!sampleFrame().save(&buffer, "JPG")) {
            state.SkipWithError("no JPEG writer");
            break;
        }
        benchmark::DoNotOptimize(buffer.size());
    }
}

// A room with a person walking across it and a camera's noise: what the
// alert guards see on an ordinary tick.
const std::vector<QImage> &walkingFrames()
{
    static const std::vector<QImage> frames = [] {
        std::vector<QImage> made;
        const QImage room = sampleFrame();
        for (int k = 0; k < 16; ++k)
            made.push_back(
                withNoise(withPerson(room, QRect(40 + 12 * k, 80, 70, 200)), 3, quint32(k)));
        return made;
    }();
    return frames;
}

// The same with a screen stirring in a corner, learned as steady movement,
// and a quarter of the picture painted out.
const std::vector<QImage> &stirringFrames()
{
    static const std::vector<QImage> frames = [] {
        std::vector<QImage> made;
        for (int k = 0; k < 16; ++k)
            made.push_back(withStirring(walkingFrames()[size_t(k)], QRect(320, 16, 128, 96), k));
        return made;
    }();
    return frames;
}

// The whole tick, guards off (0: every tick over the threshold alerts) and
// with a new user's guards and measure (1): the difference is what the
// guards cost a frame. 2: with a steady screen and a painted quarter too.
void BM_TickGuards(benchmark::State &state)
{
    WatchSettings settings;
    if (state.range(0) >= 1)
        settings.alerts = AlertSettings();
    WatchTick tick;
    tick.restart();
    const std::vector<QImage> &frames = state.range(0) == 2 ? stirringFrames() : walkingFrames();
    if (state.range(0) == 2) {
        QImage painted(480, 320, QImage::Format_Grayscale8);
        painted.fill(0);
        for (int y = 160; y < 320; ++y)
            std::fill_n(painted.scanLine(y), 240, uchar(255));
        tick.setIgnoredArea(painted);
        // Long enough for the screen to be learned.
        for (int k = 0; k < 40; ++k)
            tick.process(frames[size_t(k) % frames.size()], settings, k * 100);
    }
    size_t k = 0;
    qint64 timeMs = 4000;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tick.process(frames[k % frames.size()], settings, timeMs));
        ++k;
        timeMs += 100;
    }
}

// The camera-glitch guard: nothing new, one colour.
void BM_GuardGlitch(benchmark::State &state)
{
    const std::vector<QImage> &frames = walkingFrames();
    for (auto _ : state) {
        benchmark::DoNotOptimize(sameFrame(frames[0], frames[1], 10, 32));
        benchmark::DoNotOptimize(isUniform(blockMeans(frames[1], 16, 2), 4));
    }
}

// The lighting guard on a tick over the threshold: the light's gains; with
// 1, also the previous frame in the new light and what is left.
void BM_GuardLighting(benchmark::State &state)
{
    const QImage before = walkingFrames()[0];
    const QImage after = withGain(walkingFrames()[1], 0.8);
    const QImage beforeMeans = blockMeans(before, 16);
    const QImage afterMeans = blockMeans(after, 16);
    QImage difference;
    for (auto _ : state) {
        const LightChange change = measureLightChange(beforeMeans, afterMeans);
        if (state.range(0) == 1)
            benchmark::DoNotOptimize(compareFrames(relit(before, change), after, difference));
        benchmark::DoNotOptimize(change);
    }
}

// The steady-movement guard's learning from one difference image.
void BM_GuardSteady(benchmark::State &state)
{
    QImage difference;
    compareFrames(walkingFrames()[0], walkingFrames()[1], difference);
    QImage activity, steady;
    for (auto _ : state) {
        updateActivity(activity, movedBlocks(difference, QImage(), 16, 90, 64), 4);
        updateSteadyBlocks(steady, activity, 19660, 7864);
        benchmark::DoNotOptimize(steady);
    }
}

// The steady area as pixels, made again whenever a block changes.
void BM_SteadyMask(benchmark::State &state)
{
    QImage blocks(30, 20, QImage::Format_Grayscale8);
    blocks.fill(0);
    blocks.setPixel(10, 10, 255);
    for (auto _ : state)
        benchmark::DoNotOptimize(blocksToPixels(blocks, 16, QSize(480, 320), true));
}

// The moving-area measure from a difference image.
void BM_MovingArea(benchmark::State &state)
{
    QImage difference;
    compareFrames(walkingFrames()[0], walkingFrames()[1], difference);
    for (auto _ : state)
        benchmark::DoNotOptimize(movedShare(movedBlocks(difference, QImage(), 16, 90, 64)));
}

// The comparison without (0) and with (1) areas left out of the level.
void BM_CompareMasked(benchmark::State &state)
{
    QImage ignored;
    if (state.range(0) == 1) {
        ignored = QImage(480, 320, QImage::Format_Grayscale8);
        ignored.fill(0);
        for (int y = 0; y < 160; ++y)
            std::fill_n(ignored.scanLine(y), 240, uchar(255));
    }
    QImage difference;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            compareFrames(walkingFrames()[0], walkingFrames()[1], difference, ignored));
}

} // namespace

// The reference takes about half a second a run: one run per repetition.
BENCHMARK(BM_ReferenceFilter)
    ->Apply(filterArguments)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_FastFilter)
    ->Apply(filterArguments)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_FilterAfterPause)
    ->ArgName("mean")
    ->Arg(Median)
    ->Arg(Mean)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(40)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_WholeTick)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_TickBySetting)
    ->Apply(tickSettings)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_BrightnessOffset)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_CompareFrames)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_TickGuards)
    ->ArgName("guards")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_GuardGlitch)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_GuardLighting)
    ->ArgName("relit")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_GuardSteady)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_SteadyMask)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_MovingArea)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_CompareMasked)
    ->ArgName("masked")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_JpegEncode)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

int main(int argc, char **argv)
{
    // The JPEG writer is a plugin, found through the application object.
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
