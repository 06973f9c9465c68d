#include "viewer/display.h"

#include <opencv2/imgproc.hpp>

namespace webcam {

namespace {

// Top 8 bits of each sample (not rounded: 0x01FF is 0x01).
void TopByte(const cv::Mat &src, cv::Mat &dst)
{
    dst.create(src.size(), CV_MAKETYPE(CV_8U, src.channels()));
    const int samples = src.cols * src.channels();
    for (int r = 0; r < src.rows; r++) {
        const uint16_t *in = src.ptr<uint16_t>(r);
        uint8_t *out = dst.ptr<uint8_t>(r);
        for (int i = 0; i < samples; i++)
            out[i] = uint8_t(in[i] >> 8);
    }
}

}  // namespace

cv::Mat DisplayFrame(const cv::Mat &view, DisplayScratch &scratch)
{
    if (view.empty() || (view.depth() != CV_8U && view.depth() != CV_16U))
        return cv::Mat();
    const int channels = view.channels();
    if (channels != 1 && channels != 3 && channels != 4)
        return cv::Mat();
    if (view.type() == CV_8UC3)
        return view;
    cv::Mat bytes = view;
    if (view.depth() == CV_16U) {
        TopByte(view, scratch.narrowed);
        bytes = scratch.narrowed;
    }
    if (channels == 3)
        return bytes;
    cv::cvtColor(bytes, scratch.colour,
                 channels == 1 ? cv::COLOR_GRAY2BGR : cv::COLOR_BGRA2BGR);  // BGRA2BGR drops the fourth, keeps the order
    return scratch.colour;
}

}  // namespace webcam
