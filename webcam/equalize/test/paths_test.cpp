// Every way the remap can run on this CPU against the plain double-precision
// reference, byte for byte, padding behind each row included (it must stay
// untouched) and out of place into rows of another stride: random spreads, flat, two-level and one-bin frames, odd widths,
// and camera-sized frames whose rows end off a SIMD block.
#include <webcam/equalize_core.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

using webcam::EqualizePath;

namespace {

enum Kind { kSpread, kFlat, kTwoLevel, kOneBin, kStripes };

struct Case {
    int rows, cols, pad;
    Kind kind;
};

std::vector<uint8_t> Make(const Case &c, std::mt19937 &rng)
{
    const size_t stride = size_t(c.cols) * 3 + size_t(c.pad);
    std::vector<uint8_t> bytes(size_t(c.rows) * stride);
    const int base = int(rng() % 256), spread = 1 + int(rng() % 256);
    for (int r = 0; r < c.rows; r++)
        for (size_t i = 0; i < stride; i++) {
            uint8_t &b = bytes[size_t(r) * stride + i];
            const size_t pixel = i / 3;
            switch (i >= size_t(c.cols) * 3 ? kSpread : c.kind) {
            case kSpread: b = uint8_t(std::min(255, base + int(rng() % unsigned(spread)))); break;
            case kFlat: b = uint8_t((pixel + size_t(r) * size_t(c.cols) + i % 3 * 85) % 256); break;
            case kTwoLevel: b = (r + int(pixel)) % 2 ? 255 : 0; break;
            case kOneBin: b = uint8_t(base); break;
            case kStripes:  // flat stripes, none of them clipped, and specks between
                b = (pixel * 7 + size_t(r)) % 11 ? uint8_t(base + 11 * (pixel / 97) + 29 * (i % 3)) : uint8_t(rng());
                break;
            }
        }
    return bytes;
}

TEST(EqualizePaths, EveryPathGivesTheReferenceBytes)
{
    std::vector<EqualizePath> paths;
    for (EqualizePath p : webcam::kEqualizePaths) {
        if (webcam::EqualizePathAvailable(p))
            paths.push_back(p);
        else
            std::printf("[ SKIPPED  ] the %s path: not on this CPU\n", webcam::EqualizePathName(p));
    }
    std::mt19937 rng(11);
    std::vector<Case> cases;
    for (int round = 0; round < 60; round++)
        cases.push_back({1 + int(rng() % 40), 1 + int(rng() % 140), int(rng() % 5), Kind(round % 4)});
    for (Kind k : {kSpread, kFlat, kTwoLevel, kOneBin, kStripes})
        cases.push_back({1080, 1920 + 5, 3, k});  // rows end five pixels past a block
    cases.push_back({300, 259, 2, kSpread});      // counted in pairs, three pixels left over a row
    for (const Case &c : cases) {
        const std::vector<uint8_t> source = Make(c, rng);
        std::vector<uint8_t> reference = source;
        const size_t stride = size_t(c.cols) * 3 + size_t(c.pad);
        webcam::EqualizeClippedReference(reference.data(), c.rows, c.cols, stride);
        for (EqualizePath p : paths) {
            std::vector<uint8_t> out = source;
            webcam::EqualizeClipped(out.data(), c.rows, c.cols, stride, p);
            ASSERT_EQ(out, reference) << webcam::EqualizePathName(p) << " on " << c.rows << "x" << c.cols << " pad " << c.pad
                                      << " kind " << int(c.kind);
            // Out of place, into rows of another stride: the same bytes,
            // the source untouched, the destination's padding too.
            const size_t wide = stride + 7;
            std::vector<uint8_t> into(size_t(c.rows) * wide, 0xA5), expected = into;
            for (int r = 0; r < c.rows; r++)
                std::copy_n(reference.begin() + ptrdiff_t(size_t(r) * stride), size_t(c.cols) * 3,
                            expected.begin() + ptrdiff_t(size_t(r) * wide));
            webcam::EqualizeClipped(source.data(), stride, into.data(), wide, c.rows, c.cols, p);
            ASSERT_EQ(into, expected) << "out of place, " << webcam::EqualizePathName(p) << " on " << c.rows << "x"
                                      << c.cols;
        }
    }
}

}  // namespace
