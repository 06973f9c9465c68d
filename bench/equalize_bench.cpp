// The equalization on camera-sized frames: the table-driven version against
// the plain double-precision reference it is tested against.
#include <webcam/equalize_core.h>

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>

namespace {

cv::Mat Camera(int width, int height)
{
    cv::Mat frame(height, width, CV_8UC3);
    cv::randn(frame, cv::Scalar(90, 120, 140), cv::Scalar(30, 40, 50));  // a skewed, clipped histogram
    return frame;
}

template <void (*Equalize)(uint8_t *, int, int, size_t)> void Run(benchmark::State &state)
{
    const cv::Mat source = Camera(int(state.range(0)), int(state.range(1)));
    cv::Mat frame;
    for (auto _ : state) {
        state.PauseTiming();
        source.copyTo(frame);
        state.ResumeTiming();
        Equalize(frame.data, frame.rows, frame.cols, frame.step[0]);
        benchmark::DoNotOptimize(frame.data);
    }
    state.SetItemsProcessed(state.iterations() * source.total());
}

void Reference(benchmark::State &state) { Run<webcam::EqualizeClippedReference>(state); }
void Fast(benchmark::State &state) { Run<webcam::EqualizeClipped>(state); }

}  // namespace

BENCHMARK(Reference)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(Fast)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
