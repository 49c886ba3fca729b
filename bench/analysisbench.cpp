#include "brightness.h"
#include "framecomparison.h"
#include "frameprocessing.h"
#include "imagefilter.h"
#include "referencefilter.h"
#include "sampleframes.h"
#include "webcam.h"

#include <QBuffer>
#include <QCoreApplication>

#include <benchmark/benchmark.h>

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
