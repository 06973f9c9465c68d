// The relay's own JPEG decoding against OpenCV's imdecode, byte for byte:
// in full and at each reduced scale, colour and grey, into a message's
// array; and a stream cut short is dropped with a reason.
#include <image_msgs/CvBridge.h>
#include <webcam/relay.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

namespace {

cv::Mat Picture(int w, int h, int type)
{
    cv::Mat coarse(h / 16, w / 16, CV_8UC3), out;
    cv::randu(coarse, 0, 256);
    cv::resize(coarse, out, cv::Size(w, h), 0, 0, cv::INTER_CUBIC);
    if (type == CV_8UC1)
        cv::cvtColor(out, out, cv::COLOR_BGR2GRAY);
    return out;
}

TEST(Relay, JpegDecodesAsOpenCvDoesAtEveryScale)
{
    struct Case {
        int w, h, type;
        bool full;
        int scale, flags;
    };
    const Case cases[] = {
        {640, 480, CV_8UC3, false, 1, cv::IMREAD_COLOR},
        {1920, 1080, CV_8UC3, true, 1, cv::IMREAD_COLOR},
        {1920, 1080, CV_8UC3, false, 2, cv::IMREAD_REDUCED_COLOR_2},
        {2600, 1950, CV_8UC1, false, 4, cv::IMREAD_REDUCED_GRAYSCALE_4},
        {5130, 3850, CV_8UC3, false, 8, cv::IMREAD_REDUCED_COLOR_8},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> jpeg;
        cv::imencode(".jpg", Picture(c.w, c.h, c.type), jpeg);
        webcam::RelayOptions options;
        options.fullJpeg = c.full;
        EXPECT_EQ(webcam::JpegScale(uint64_t(c.w), uint64_t(c.h), options), c.scale);
        image_msgs::Image msg;
        const webcam::Relayed out = webcam::RelayCompressed(
            "jpeg", jpeg.data(), jpeg.size(), options,
            [&](int rows, int cols, int type) { return image_msgs::ImageFrame(msg, rows, cols, type); });
        const cv::Mat expected = cv::imdecode(jpeg, c.flags | cv::IMREAD_IGNORE_ORIENTATION);
        ASSERT_EQ(out.frame.size(), expected.size()) << c.w << "x" << c.h;
        ASSERT_EQ(out.frame.type(), expected.type());
        EXPECT_EQ(cv::norm(out.frame, expected, cv::NORM_INF), 0) << c.w << "x" << c.h << " at 1/" << c.scale;
        EXPECT_EQ(out.encoding, c.type == CV_8UC1 ? "mono" : "bgr");
        EXPECT_EQ(out.frame.data, msg.uint8_data.data.data());
        jpeg.resize(jpeg.size() / 3);  // cut short: libjpeg gives up, the frame goes
        const webcam::Relayed cut = webcam::RelayCompressed("jpeg", jpeg.data(), jpeg.size(), options,
                                                            [](int r, int k, int t) { return cv::Mat(r, k, t); });
        EXPECT_TRUE(cut.frame.empty() == !cut.why.empty());
    }
}

}  // namespace
