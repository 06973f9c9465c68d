// Every way the canvas scaling runs on this CPU against the same arithmetic
// done sample by sample, byte for byte, the padding behind each canvas row
// untouched: the camera sizes and odd ones (upscaled, a single pixel,
// padded source rows), plain and through tone curves looked up per sample
// or by the equalization's row remap. And the camera frames' canvases
// against the digest of what cv::resize made of them on x86-64.
#include "frames.h"

#include <webcam/canvas_resize.h>
#include <webcam/equalize_core.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <random>

using webcam::CanvasPath;
using webcam::CanvasResize;

namespace {

constexpr int kCols = 640, kRows = 480, kGap = 7;
constexpr uint8_t kGuard = 0xa5;

struct Canvas {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(size_t(kCols * 3 + kGap) * kRows, kGuard);
    webcam::CanvasImage image() { return {bytes.data(), size_t(kCols * 3 + kGap), kCols, kRows}; }
};

void RemapRow(const uint8_t *in, uint8_t *out, int pixels, const webcam::CanvasLut &lut)
{
    webcam::EqualizeRemap(in, out, pixels, lut);
}

TEST(CanvasPaths, EveryPathGivesTheReferenceBytes)
{
    std::vector<CanvasPath> paths;
    for (CanvasPath p : webcam::kCanvasPaths) {
        if (webcam::CanvasPathAvailable(p))
            paths.push_back(p);
        else
            std::printf("[ SKIPPED  ] the %s path: not on this CPU\n", webcam::CanvasPathName(p));
    }
    std::vector<std::array<int, 3>> sizes;  // cols, rows, padding
    for (const auto &s : canvas_test::kCameraSizes)
        sizes.push_back({s[0], s[1], 0});
    for (const std::array<int, 3> &s : {std::array<int, 3>{1, 1, 0}, {7, 5, 3}, {641, 479, 1}, {639, 481, 0},
                                         {3, 1200, 0}, {1900, 2, 2}, {1920, 1080, 5}})
        sizes.push_back(s);
    std::mt19937 rng(7);
    webcam::CanvasLut curves;
    for (auto &curve : curves)
        for (uint8_t &v : curve)
            v = uint8_t(rng());
    CanvasResize lookUp, remap;
    remap.setRowMap(RemapRow);
    for (const auto &[cols, rows, pad] : sizes)
        for (canvas_test::Kind kind : {canvas_test::kRandom, canvas_test::kChecker, canvas_test::kRamps}) {
            const canvas_test::Frame f = canvas_test::Make(cols, rows, kind, size_t(pad));
            const webcam::ConstCanvasImage src{f.bytes.data(), f.stride, cols, rows};
            for (const webcam::CanvasLut *lut : std::array<const webcam::CanvasLut *, 2>{nullptr, &curves}) {
                Canvas want;
                CanvasResize::Reference(src, want.image(), lut);
                for (CanvasPath path : paths)
                    for (CanvasResize *resize : {&lookUp, &remap}) {
                        Canvas got;
                        (*resize)(src, got.image(), lut, path);
                        ASSERT_EQ(got.bytes, want.bytes)
                            << cols << "x" << rows << " kind " << kind << (lut ? " through curves" : "") << ", the "
                            << webcam::CanvasPathName(path) << " path" << (resize == &remap ? ", row remap" : "");
                    }
            }
        }
}

TEST(CanvasPaths, CameraCanvasesAreOpenCvs)
{
    uint64_t digest = canvas_test::kDigestStart;
    CanvasResize resize;
    for (const auto &s : canvas_test::kCameraSizes)
        for (canvas_test::Kind kind : canvas_test::kKinds) {
            const canvas_test::Frame f = canvas_test::Make(s[0], s[1], kind);
            Canvas got;
            resize({f.bytes.data(), f.stride, s[0], s[1]}, got.image());
            for (int r = 0; r < kRows; r++)
                canvas_test::Digest(digest, got.bytes.data() + size_t(r) * (kCols * 3 + kGap), kCols * 3);
        }
    EXPECT_EQ(digest, canvas_test::kCanvasDigest) << std::hex << digest;
}

}  // namespace
