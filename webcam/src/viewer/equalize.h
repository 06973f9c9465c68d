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

// Out of place: src stays as it is; dst is a CV_8UC3 frame of src's size.
inline void EqualizeClipped(const cv::Mat &src, cv::Mat &dst)
{
    CV_Assert(src.type() == CV_8UC3 && dst.type() == CV_8UC3 && src.size() == dst.size());
    EqualizeClipped(src.data, src.step[0], dst.data, dst.step[0], src.rows, src.cols);
}

inline void EqualizeClippedReference(cv::Mat &frame)
{
    CV_Assert(frame.type() == CV_8UC3);
    EqualizeClippedReference(frame.data, frame.rows, frame.cols, frame.step[0]);
}

}  // namespace webcam
