#pragma once

#include <opencv2/core.hpp>

namespace webcam {

// Buffers for frames that need converting before they can be shown, kept
// from frame to frame so that a steady stream allocates nothing.
struct DisplayScratch {
    cv::Mat narrowed;  // 16-bit samples cut to their top 8 bits
    cv::Mat colour;    // three channels made from one or four
};

// An 8-bit 3-channel frame showing view: view itself when it is one
// already; otherwise a conversion into scratch (grey to three channels,
// 16-bit to its top 8 bits, the first three of four channels). Empty when
// view is empty or has another depth or channel count.
cv::Mat DisplayFrame(const cv::Mat &view, DisplayScratch &scratch);

}  // namespace webcam
