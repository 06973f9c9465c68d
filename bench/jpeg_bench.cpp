// Decoding one 1920x1080 camera-like JPEG (quality 80), one thread, as the
// relay decodes it (libjpeg-turbo straight into a buffer kept from frame to
// frame, as a message's array is: in full, and at half size, the scale that
// still fills the 640 x 480 window),
// against OpenCV's imdecode of the same bytes, and against the floor no
// scale goes below: libjpeg at 1/8, where the inverse DCT is one
// coefficient a block and what is left is entropy decoding.
#include "relay/relay.h"

#include <benchmark/benchmark.h>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <jpeglib.h>

namespace {

const std::vector<uint8_t> &Jpeg()
{
    static const std::vector<uint8_t> bytes = [] {
        cv::Mat coarse(1080 / 16, 1920 / 16, CV_8UC3), frame, noise(1080, 1920, CV_16SC3);
        cv::randn(coarse, cv::Scalar(90, 120, 140), cv::Scalar(40, 50, 60));
        cv::resize(coarse, frame, cv::Size(1920, 1080), 0, 0, cv::INTER_CUBIC);
        cv::randn(noise, cv::Scalar::all(0), cv::Scalar::all(4));
        cv::add(frame, noise, frame, cv::noArray(), CV_8UC3);
        std::vector<uint8_t> out;
        cv::imencode(".jpg", frame, out, {cv::IMWRITE_JPEG_QUALITY, 80});
        return out;
    }();
    return bytes;
}

void Relay(benchmark::State &state, bool full)
{
    webcam::RelayOptions options;
    options.fullJpeg = full;
    cv::Mat kept;
    const webcam::FrameSink sink = [&](int rows, int cols, int type) {
        kept.create(rows, cols, type);
        return kept;
    };
    for (auto _ : state)
        benchmark::DoNotOptimize(webcam::RelayCompressed("jpeg", Jpeg().data(), Jpeg().size(), options, sink));
}

void Imdecode(benchmark::State &state, int flags)
{
    cv::setNumThreads(1);
    for (auto _ : state)
        benchmark::DoNotOptimize(cv::imdecode(Jpeg(), flags | cv::IMREAD_IGNORE_ORIENTATION));
}

void EntropyFloor(benchmark::State &state)
{
    std::vector<uint8_t> rows(240 * 135 * 3);
    for (auto _ : state) {
        jpeg_decompress_struct info;
        jpeg_error_mgr errors;
        info.err = jpeg_std_error(&errors);
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, Jpeg().data(), static_cast<unsigned long>(Jpeg().size()));
        jpeg_read_header(&info, TRUE);
        info.out_color_space = JCS_EXT_BGR;
        info.scale_num = 1;
        info.scale_denom = 8;
        jpeg_start_decompress(&info);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = rows.data() + size_t(info.output_scanline) * info.output_width * 3;
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
    }
}

BENCHMARK_CAPTURE(Relay, full, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Relay, half, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Imdecode, full, cv::IMREAD_COLOR)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Imdecode, half, cv::IMREAD_REDUCED_COLOR_2)->Unit(benchmark::kMillisecond);
BENCHMARK(EntropyFloor)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
