// The canvas scaling against OpenCV's own: every path on this CPU and the
// sample-by-sample arithmetic give cv::resize's bytes at every camera size,
// for random, edge, checkerboard and ramp frames; the same canvases' digest
// is what the paths must give on other machines (the ARM run checks it).
// And the folded equalization: tone curves counted over the frame, looked
// up only for the samples the scaling reads, give the canvas of the frame
// equalized first and scaled after.
#include "../canvas/test/frames.h"
#include "viewer/equalize.h"

#include <webcam/canvas_resize.h>

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

using webcam::CanvasPath;
using webcam::CanvasResize;

namespace {

cv::Mat View(const canvas_test::Frame &f)
{
    return cv::Mat(f.rows, f.cols, CV_8UC3, const_cast<uint8_t *>(f.bytes.data()), f.stride);
}

cv::Mat Ours(CanvasResize &resize, const cv::Mat &src, const webcam::CanvasLut *lut, CanvasPath path)
{
    cv::Mat canvas(480, 640, CV_8UC3, cv::Scalar::all(7));
    resize({src.data, src.step[0], src.cols, src.rows}, {canvas.data, canvas.step[0], canvas.cols, canvas.rows}, lut,
           path);
    return canvas;
}

bool Same(const cv::Mat &a, const cv::Mat &b)
{
    return cv::countNonZero(cv::Mat(a != b).reshape(1)) == 0;
}

TEST(Canvas, EveryPathIsOpenCvsResizeAtEveryCameraSize)
{
    uint64_t digest = canvas_test::kDigestStart;
    CanvasResize resize;
    for (const auto &s : canvas_test::kCameraSizes) {
        ASSERT_TRUE(CanvasResize::Handles(s[0], s[1], 640, 480));
        for (canvas_test::Kind kind : canvas_test::kKinds) {
            const canvas_test::Frame f = canvas_test::Make(s[0], s[1], kind);
            cv::Mat want;
            cv::resize(View(f), want, cv::Size(640, 480), 0, 0, cv::INTER_LINEAR);
            for (int r = 0; r < want.rows; r++)
                canvas_test::Digest(digest, want.ptr(r), size_t(want.cols) * 3);
            cv::Mat reference(480, 640, CV_8UC3);
            CanvasResize::Reference({f.bytes.data(), f.stride, f.cols, f.rows},
                                    {reference.data, reference.step[0], 640, 480});
            EXPECT_TRUE(Same(reference, want)) << s[0] << "x" << s[1] << " kind " << kind << ", the reference";
            for (CanvasPath path : webcam::kCanvasPaths) {
                if (webcam::CanvasPathAvailable(path)) {
                    EXPECT_TRUE(Same(Ours(resize, View(f), nullptr, path), want))
                        << s[0] << "x" << s[1] << " kind " << kind << ", the " << webcam::CanvasPathName(path)
                        << " path";
                }
            }
        }
    }
    EXPECT_EQ(digest, canvas_test::kCanvasDigest) << std::hex << digest;
    EXPECT_FALSE(CanvasResize::Handles(1000, 700, 640, 480));
    EXPECT_FALSE(CanvasResize::Handles(1920, 1080, 800, 600));
}

TEST(Canvas, FoldedEqualizationIsEqualizingFirstAtEveryCameraSize)
{
    CanvasResize resize;
    resize.setRowMap([](const uint8_t *in, uint8_t *out, int pixels, const webcam::CanvasLut &lut) {
        webcam::EqualizeRemap(in, out, pixels, lut);
    });
    for (const auto &s : canvas_test::kCameraSizes)
        for (canvas_test::Kind kind : {canvas_test::kRandom, canvas_test::kChecker, canvas_test::kRamps}) {
            const canvas_test::Frame f = canvas_test::Make(s[0], s[1], kind);
            cv::Mat equalized = View(f).clone(), want;
            webcam::EqualizeClipped(equalized);
            cv::resize(equalized, want, cv::Size(640, 480), 0, 0, cv::INTER_LINEAR);
            webcam::CanvasLut curves;
            webcam::EqualizeTables(f.bytes.data(), f.stride, f.rows, f.cols, curves);
            EXPECT_TRUE(Same(Ours(resize, View(f), &curves, webcam::CanvasBestPath()), want))
                << s[0] << "x" << s[1] << " kind " << kind;
        }
}

}  // namespace
