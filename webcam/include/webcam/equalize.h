// The equalization on OpenCV frames; the core is in equalize_core.h.
#pragma once

#include <webcam/equalize_core.h>

#include <opencv2/core.hpp>

namespace webcam {

// The caller hands over CV_8UC3 frames only.
inline void EqualizeClipped(cv::Mat &frame)
{
    CV_Assert(frame.type() == CV_8UC3);
    EqualizeClipped(frame.data, frame.rows, frame.cols, frame.step[0]);
}

inline void EqualizeClippedReference(cv::Mat &frame)
{
    CV_Assert(frame.type() == CV_8UC3);
    EqualizeClippedReference(frame.data, frame.rows, frame.cols, frame.step[0]);
}

}  // namespace webcam
