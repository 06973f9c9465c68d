// Frames for the canvas tests, the same bytes on every machine: random
// samples, the edge values, a 0/255 checkerboard and smooth ramps, at each
// camera size; and the digest of what cv::resize makes of all of them on
// x86-64, which every path on every machine has to give too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace canvas_test {

enum Kind { kRandom, kBlack, kWhite, kChecker, kRamps };
constexpr Kind kKinds[] = {kRandom, kBlack, kWhite, kChecker, kRamps};

constexpr int kCameraSizes[][2] = {{320, 240},  {640, 480},  {800, 600},   {960, 540},   {1024, 768}, {1280, 720},
                                   {1280, 960}, {1280, 1024}, {1920, 1080}, {2048, 1536}, {3840, 2160}};

// FNV-1a over every canvas, sizes in the order above, kinds in theirs.
constexpr uint64_t kCanvasDigest = 0x3a2b31d4e90fcfd7ull;

struct Frame {
    int cols, rows;
    size_t stride;
    std::vector<uint8_t> bytes;
};

inline Frame Make(int cols, int rows, Kind kind, size_t pad = 0)
{
    Frame f{cols, rows, size_t(cols) * 3 + pad, {}};
    f.bytes.resize(f.stride * size_t(rows));
    uint32_t state = uint32_t(cols) * 2654435761u ^ uint32_t(rows) * 40503u ^ uint32_t(kind);
    for (int r = 0; r < rows; r++)
        for (size_t i = 0; i < f.stride; i++) {
            const size_t px = i / 3;
            uint8_t v = 0;
            state = state * 1664525u + 1013904223u;
            switch (kind) {
            case kRandom: v = uint8_t(state >> 24); break;
            case kBlack: v = 0; break;
            case kWhite: v = 255; break;
            case kChecker: v = (px + size_t(r)) % 2 ? 255 : 0; break;
            case kRamps: v = uint8_t((px * (1 + i % 3) + size_t(r) * 3) % 256); break;
            }
            f.bytes[size_t(r) * f.stride + i] = v;
        }
    return f;
}

inline void Digest(uint64_t &h, const uint8_t *data, size_t n)
{
    for (size_t i = 0; i < n; i++)
        h = (h ^ data[i]) * 1099511628211ull;
}

constexpr uint64_t kDigestStart = 14695981039346656037ull;

}  // namespace canvas_test
