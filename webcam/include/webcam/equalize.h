// Clip-limited global histogram equalization of an 8-bit 3-channel frame,
// in place, each channel on its own: every histogram bin is limited to 10 %
// of the pixels, the clipped mass is spread evenly over all 256 values in a
// single pass, and the cumulative distribution scaled to 0..255 and
// truncated is the channel's new tone curve. Frames with no pixels are left
// as they are. The caller hands over CV_8UC3 frames only.
#pragma once

#include <opencv2/core.hpp>

namespace webcam {

void EqualizeClipped(cv::Mat &frame);

// The same, computed the plain way (counts in doubles, a lookup in the
// double tables for every sample): the yardstick for EqualizeClipped.
void EqualizeClippedReference(cv::Mat &frame);

}  // namespace webcam
