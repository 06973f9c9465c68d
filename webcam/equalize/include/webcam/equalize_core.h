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

// The same, computed the plain way (counts in doubles, a lookup in the
// double tables for every sample): the yardstick for EqualizeClipped.
void EqualizeClippedReference(uint8_t *data, int rows, int cols, size_t stride);

}  // namespace webcam
