// The viewer's scaling of an 8-bit frame of three interleaved channels to
// its canvas, byte for byte what OpenCV 4.6's cv::resize(INTER_LINEAR)
// gives, and optionally through a lookup table per channel on the way (the
// equalization's tone curves, applied only to the samples the scaling
// reads). Plain C++ on rows of samples, no OpenCV, for any target.
//
// The arithmetic, as OpenCV's x86-64 vector code does it (its scalar tail
// rounds otherwise, but a canvas row of 640 pixels is 1920 samples, a whole
// number of vectors on every x86-64 and ARM width):
//   x: fx = float((dx + 0.5) * (1 / (dw / sw)) - 0.5), sx = floor(fx), and
//      fx -= sx; clamped to the first and last pixel with fx = 0. The tap
//      weights are a0 = rint((1 - fx) * 2048), a1 = rint(fx * 2048).
//   y: the same for sy, fy and b0, b1, with the rows clamped but not the
//      weights.
//   h = S[sx] * a0 + S[sx + 1] * a1, exact, per sample of both rows;
//   s = h >> 4, a 16-bit lane; m = (s * b) >> 16, the high half of the
//   16-bit product; out = (m0 + m1 + 2) >> 2, saturated to 0..255.
// An exact 2:1 scale is area averaging inside OpenCV, (p + q + r + t + 2)
// >> 2, which the formula above gives too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace webcam {

using CanvasLut = uint8_t[3][256];  // one tone curve per channel

// A row of pixels interleaved samples through the tables, in place or not:
// the caller's fast way of doing what a lookup per sample does.
using CanvasRowMap = void (*)(const uint8_t *in, uint8_t *out, int pixels, const CanvasLut &lut);

enum class CanvasPath { Portable, Avx2, Avx512, Neon };
constexpr CanvasPath kCanvasPaths[] = {CanvasPath::Portable, CanvasPath::Avx2, CanvasPath::Avx512, CanvasPath::Neon};
const char *CanvasPathName(CanvasPath path);  // "portable", "avx2", "avx512", "neon"
bool CanvasPathAvailable(CanvasPath path);
CanvasPath CanvasBestPath();

struct CanvasImage {
    uint8_t *data;
    size_t stride;  // bytes from one row to the next
    int cols, rows;
};

struct ConstCanvasImage {
    const uint8_t *data;
    size_t stride;
    int cols, rows;
};

class CanvasResize {
public:
    // The frame sizes done here, each checked byte for byte against
    // cv::resize: the ones cameras have, into the 640 x 480 canvas. Other
    // sizes are for cv::resize.
    static bool Handles(int srcCols, int srcRows, int dstCols, int dstRows);

    // src scaled into dst, each sample read through lut[channel] when lut
    // is given. Tables and row buffers are kept from call to call: a
    // steady stream of one size allocates nothing. Any sizes of at least
    // one pixel work; Handles says which are proven.
    void operator()(const ConstCanvasImage &src, const CanvasImage &dst, const CanvasLut *lut = nullptr);
    void operator()(const ConstCanvasImage &src, const CanvasImage &dst, const CanvasLut *lut, CanvasPath path);

    // From now on the looked-up taps are gathered first and then go
    // through map a row at a time; nullptr: a lookup per sample.
    void setRowMap(CanvasRowMap map) { map_ = map; }

    // The same arithmetic sample by sample from the tables, with no
    // buffers and no vectors: the yardstick for the paths.
    static void Reference(const ConstCanvasImage &src, const CanvasImage &dst, const CanvasLut *lut = nullptr);

    struct Plan {
        int srcCols = 0, srcRows = 0, dstCols = 0, dstRows = 0;
        std::vector<int32_t> left, right;  // per canvas pixel: byte offsets of the two taps in a row
        std::vector<int16_t> a0, a1;       // per canvas sample: the tap weights
        std::vector<int32_t> row0, row1;   // per canvas row: the two source rows
        std::vector<int16_t> b0, b1;       // and their weights
        bool oneTap = true;                // every a1 is 0: the second tap is never read
        int wideLeft = 0, wideRight = 0;   // the first pixels whose taps have a byte of the row behind them
        // The taps of a row 64 bytes at a time, for byte permutes: per
        // block of 64 canvas samples the first source byte and how many
        // windows of 128 bytes from there hold them all (0: too many, byte
        // by byte); per sample its window and its byte in the window.
        struct Blocks {
            std::vector<int32_t> base;
            std::vector<uint8_t> windows;
            std::vector<uint8_t> index, window;  // 64 a block
            bool every = false;                  // all but at most the last block permuted: worth it
        };
        Blocks leftBlocks, rightBlocks;
    };
    static void MakePlan(int srcCols, int srcRows, int dstCols, int dstRows, Plan &plan);

private:
    Plan plan_;
    CanvasRowMap map_ = nullptr;
    std::vector<uint8_t> taps_;   // the two taps of a row, looked up
    std::vector<int16_t> rows_;   // two rows of s
};

}  // namespace webcam
