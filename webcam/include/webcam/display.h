#pragma once

#include <opencv2/core.hpp>

namespace webcam {

// An 8-bit 3-channel frame showing view: view itself when it is one
// already; otherwise a conversion into scratch (grey to three channels,
// 16-bit to its top 8 bits, the first three of four channels). Empty when
// view is empty or has another depth or channel count.
cv::Mat DisplayFrame(const cv::Mat &view, cv::Mat &scratch);

}  // namespace webcam
