#include "brightness.h"
#include "framecomparison.h"
#include "frameprocessing.h"
#include "imagefilter.h"
#include "referencefilter.h"
#include "sampleframes.h"

#include <QBuffer>
#include <QCoreApplication>

#include <benchmark/benchmark.h>

namespace
{

const int frameWidth = 480;
const int frameHeight = 320;

const QImage &sampleFrame()
{
    static const QImage frame = cameraLikeFrame(frameWidth, frameHeight, 2024);
    return frame;
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

void filterArguments(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"kernel", "mean"});
    for (int type : {Median, Mean})
        for (int kernelSize : {3, 5, 7})
            b->Args({kernelSize, type});
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

void BM_JpegEncode(benchmark::State &state)
{
    for (auto _ : state) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        sampleFrame().save(&buffer, "JPG");
        benchmark::DoNotOptimize(buffer.size());
    }
}

} // namespace

BENCHMARK(BM_ReferenceFilter)->Apply(filterArguments)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_FastFilter)->Apply(filterArguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeTick)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegEncode)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    // The JPEG writer is a plugin; plugins need the application object.
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
