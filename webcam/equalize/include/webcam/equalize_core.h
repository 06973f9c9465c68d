// Clip-limited global histogram equalization of an 8-bit image of three
// interleaved channels, in place, each channel on its own: every histogram
// bin is limited to 10 % of the pixels, the clipped mass is spread evenly
// over all 256 values in a single pass, and the cumulative distribution
// scaled to 0..255 and truncated is the channel's new tone curve.
//
// Plain C++ on rows of samples, no ROS and no OpenCV: data points at the
// first sample of the first row, rows are stride bytes apart and hold cols
// pixels of three bytes each. Images with no pixels are left as they are.
#pragma once

#include <cstddef>
#include <cstdint>

namespace webcam {

void EqualizeClipped(uint8_t *data, int rows, int cols, size_t stride);

// The ways the remap can run; EqualizeClipped takes the best this CPU
// offers, chosen once at run time. Every path gives the same bytes.
enum class EqualizePath { Portable, Avx2, Avx512, Neon };
constexpr EqualizePath kEqualizePaths[] = {EqualizePath::Portable, EqualizePath::Avx2, EqualizePath::Avx512,
                                           EqualizePath::Neon};
const char *EqualizePathName(EqualizePath path);  // "portable", "avx2", "avx512", "neon"
bool EqualizePathAvailable(EqualizePath path);
EqualizePath EqualizeBestPath();
// One path in particular (the portable one if this CPU lacks it).
void EqualizeClipped(uint8_t *data, int rows, int cols, size_t stride, EqualizePath path);

// Out of place: src is counted and remapped into dst (rows x cols pixels at
// dstStride), which may be src itself; src is not written. The bytes are
// those the in-place equalization leaves in src.
void EqualizeClipped(const uint8_t *src, size_t srcStride, uint8_t *dst, size_t dstStride, int rows, int cols);
void EqualizeClipped(const uint8_t *src, size_t srcStride, uint8_t *dst, size_t dstStride, int rows, int cols,
                     EqualizePath path);

// The two halves of it, for a caller that maps only some of the samples:
// the tone curves counted over the whole frame (the identity for a frame
// with no pixels), and pixels interleaved samples through them (in may be
// out).
void EqualizeTables(const uint8_t *src, size_t stride, int rows, int cols, uint8_t (&lut)[3][256]);
void EqualizeRemap(const uint8_t *in, uint8_t *out, int pixels, const uint8_t (&lut)[3][256]);
void EqualizeRemap(const uint8_t *in, uint8_t *out, int pixels, const uint8_t (&lut)[3][256], EqualizePath path);

// The same, computed the plain way (counts in doubles, a lookup in the
// double tables for every sample): the yardstick for EqualizeClipped.
void EqualizeClippedReference(uint8_t *data, int rows, int cols, size_t stride);

}  // namespace webcam
