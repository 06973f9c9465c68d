// The equalization of interleaved three-channel frames against two
// baselines measured in the same run: OpenCV's equalizeHist on the frame's
// three planes (split beforehand, not timed; one thread), and a memcpy of
// the frame (the memory floor). Each at four sizes, on camera-like content
// and on the worst case for counting (every sample in one bin).
#include <webcam/equalize_core.h>

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstring>
#include <string>

namespace {

enum Content { kCamera, kOneBin };

cv::Mat Frame(int width, int height, int content)
{
    if (content == kOneBin)
        return cv::Mat(height, width, CV_8UC3, cv::Scalar::all(97));
    // Smooth shapes with sensor noise: a skewed, clipped histogram. The
    // noise is drawn signed (into 8 bits it would saturate at 0 and only
    // ever brighten).
    cv::Mat coarse(height / 16, width / 16, CV_8UC3), frame, noise(height, width, CV_16SC3);
    cv::randn(coarse, cv::Scalar(90, 120, 140), cv::Scalar(40, 50, 60));
    cv::resize(coarse, frame, cv::Size(width, height), 0, 0, cv::INTER_CUBIC);
    cv::randn(noise, cv::Scalar::all(0), cv::Scalar::all(4));
    cv::add(frame, noise, frame, cv::noArray(), CV_8UC3);
    return frame;
}

void Items(benchmark::State &state, const cv::Mat &frame)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frame.total() * frame.elemSize()));
}

void Orlin(benchmark::State &state, webcam::EqualizePath path)
{
    if (!webcam::EqualizePathAvailable(path)) {
        state.SkipWithError("this CPU lacks the path");
        return;
    }
    const cv::Mat source = Frame(int(state.range(0)), int(state.range(1)), int(state.range(2)));
    cv::Mat frame = source.clone();
    for (auto _ : state) {
        state.PauseTiming();
        source.copyTo(frame);
        state.ResumeTiming();
        webcam::EqualizeClipped(frame.data, frame.rows, frame.cols, frame.step[0], path);
        benchmark::ClobberMemory();
    }
    Items(state, source);
}

void EqualizeHistThreePlanes(benchmark::State &state)
{
    cv::setNumThreads(1);
    const cv::Mat source = Frame(int(state.range(0)), int(state.range(1)), int(state.range(2)));
    std::vector<cv::Mat> planes, out(3);
    cv::split(source, planes);
    for (auto _ : state) {
        for (int c = 0; c < 3; c++)
            cv::equalizeHist(planes[size_t(c)], out[size_t(c)]);
        benchmark::ClobberMemory();
    }
    Items(state, source);
}

void Memcpy(benchmark::State &state)
{
    const cv::Mat source = Frame(int(state.range(0)), int(state.range(1)), int(state.range(2)));
    cv::Mat copy(source.size(), source.type());
    const size_t bytes = source.total() * source.elemSize();
    for (auto _ : state) {
        std::memcpy(copy.data, source.data, bytes);
        benchmark::ClobberMemory();
    }
    Items(state, source);
}

void Sizes(benchmark::internal::Benchmark *b)
{
    for (int content : {kCamera, kOneBin})
        for (auto wh : {std::pair<int, int>{640, 480}, {1280, 720}, {1920, 1080}, {3840, 2160}})
            b->Args({wh.first, wh.second, content});
    b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(EqualizeHistThreePlanes)->Name("equalizeHist_x3")->Apply(Sizes);
BENCHMARK(Memcpy)->Name("memcpy")->Apply(Sizes);

int main(int argc, char **argv)
{
    for (webcam::EqualizePath path : webcam::kEqualizePaths)
        benchmark::RegisterBenchmark((std::string("orlin_") + webcam::EqualizePathName(path)).c_str(), Orlin, path)
            ->Apply(Sizes);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
}
