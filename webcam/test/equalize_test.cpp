#include "viewer/equalize.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>


using webcam::EqualizeClipped;
using webcam::EqualizeClippedReference;

namespace {

cv::Mat Solid(int rows, int cols, uint8_t v)
{
    return cv::Mat(rows, cols, CV_8UC3, cv::Scalar::all(v));
}

// Every sample of a frame, for exact comparison.
std::vector<uint8_t> Samples(const cv::Mat &m)
{
    std::vector<uint8_t> out;
    for (int r = 0; r < m.rows; r++)
        out.insert(out.end(), m.ptr<uint8_t>(r), m.ptr<uint8_t>(r) + m.cols * 3);
    return out;
}

TEST(Equalize, SolidChannelIsClippedToTenPercentAndLifted)
{
    // One bin holds everything: clipped to 0.1, 0.9 spread over 256 values.
    const struct {
        uint8_t in, out;
    } cases[] = {{0, 26}, {128, 141}, {255, 255}};
    for (const auto &c : cases) {
        cv::Mat frame = Solid(7, 5, c.in);
        EqualizeClipped(frame);
        EXPECT_EQ(frame.at<cv::Vec3b>(6, 4), cv::Vec3b::all(c.out)) << int(c.in);
    }
    cv::Mat grey = Solid(4, 4, 128);
    EqualizeClipped(grey);
    EqualizeClipped(grey);  // equalizing again changes it again
    EXPECT_EQ(grey.at<cv::Vec3b>(0, 0), cv::Vec3b::all(152));
}

TEST(Equalize, HalfBlackHalfWhite)
{
    cv::Mat frame = Solid(2, 8, 0);
    frame.row(1).setTo(cv::Scalar::all(255));
    EqualizeClipped(frame);
    EXPECT_EQ(frame.at<cv::Vec3b>(0, 3), cv::Vec3b::all(26));
    EXPECT_EQ(frame.at<cv::Vec3b>(1, 3), cv::Vec3b::all(255));
}

TEST(Equalize, FlatHistogramMapsOntoItself)
{
    cv::Mat frame(2, 256, CV_8UC3);
    for (int v = 0; v < 256; v++) {
        frame.at<cv::Vec3b>(0, v) = cv::Vec3b(uint8_t(v), uint8_t(255 - v), uint8_t(v));
        frame.at<cv::Vec3b>(1, v) = cv::Vec3b(uint8_t(255 - v), uint8_t(v), uint8_t(255 - v));
    }
    const cv::Mat before = frame.clone();
    EqualizeClipped(frame);
    EXPECT_EQ(Samples(frame), Samples(before));
}

TEST(Equalize, ChannelsGetTheirOwnCurves)
{
    cv::Mat frame = Solid(3, 3, 0);
    frame.setTo(cv::Scalar(0, 128, 255));
    EqualizeClipped(frame);
    EXPECT_EQ(frame.at<cv::Vec3b>(1, 1), cv::Vec3b(26, 141, 255));
}

TEST(Equalize, EmptyFrameIsLeftAlone)
{
    cv::Mat frame(0, 0, CV_8UC3);
    EqualizeClipped(frame);
    EqualizeClippedReference(frame);
    EXPECT_TRUE(frame.empty());
}

}  // namespace
