// The scaling to the 640 x 480 canvas at each camera size, per path of
// ours, against cv::resize(INTER_LINEAR) measured in the same run (the
// bytes are the same: make test checks it). CPU time, all threads: OpenCV
// spreads its resize over the cores, ours runs on the caller's. Equalizing,
// the counting and the curves folded into the scaling against an equalized
// copy of the frame resized after.
#include <webcam/canvas_resize.h>
#include <webcam/equalize_core.h>

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace {

const int kSizes[][2] = {{960, 540}, {1280, 720}, {1920, 1080}, {2048, 1536}, {3840, 2160}};

cv::Mat Frame(int width, int height)
{
    cv::Mat frame(height, width, CV_8UC3);
    cv::randu(frame, 0, 256);
    cv::GaussianBlur(frame, frame, cv::Size(7, 7), 2);
    return frame;
}

void Ours(benchmark::State &state, int w, int h, webcam::CanvasPath path, bool equalize)
{
    const cv::Mat frame = Frame(w, h);
    cv::Mat canvas(480, 640, CV_8UC3);
    webcam::CanvasResize resize;
    resize.setRowMap([](const uint8_t *in, uint8_t *out, int pixels, const webcam::CanvasLut &lut) {
        webcam::EqualizeRemap(in, out, pixels, lut);
    });
    webcam::CanvasLut curves;
    for (auto _ : state) {
        if (equalize)
            webcam::EqualizeTables(frame.data, frame.step[0], frame.rows, frame.cols, curves);
        resize({frame.data, frame.step[0], w, h}, {canvas.data, canvas.step[0], 640, 480}, equalize ? &curves : nullptr,
               path);
        benchmark::DoNotOptimize(canvas.data);
    }
}

void OpenCv(benchmark::State &state, int w, int h, bool equalize)
{
    const cv::Mat frame = Frame(w, h);
    cv::Mat canvas(480, 640, CV_8UC3), equalized(frame.size(), CV_8UC3);
    for (auto _ : state) {
        if (equalize)
            webcam::EqualizeClipped(frame.data, frame.step[0], equalized.data, equalized.step[0], h, w);
        cv::resize(equalize ? equalized : frame, canvas, canvas.size(), 0, 0, cv::INTER_LINEAR);
        benchmark::DoNotOptimize(canvas.data);
    }
}

int Register()
{
    for (const auto &s : kSizes)
        for (bool equalize : {false, true}) {
            const std::string tail = "/" + std::to_string(s[0]) + "x" + std::to_string(s[1]) + (equalize ? "/eq" : "/plain");
            benchmark::RegisterBenchmark(("cv_resize" + tail).c_str(), OpenCv, s[0], s[1], equalize)->MeasureProcessCPUTime();
            for (webcam::CanvasPath p : webcam::kCanvasPaths)
                if (webcam::CanvasPathAvailable(p))
                    benchmark::RegisterBenchmark((std::string("orlin_") + webcam::CanvasPathName(p) + tail).c_str(), Ours,
                                                 s[0], s[1], p, equalize)
                        ->MeasureProcessCPUTime();
        }
    return 0;
}

const int kRegistered = Register();

}  // namespace

BENCHMARK_MAIN();
