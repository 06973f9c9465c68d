// The relay's own JPEG decoding against OpenCV's imdecode, byte for byte:
// in full and at each reduced scale, colour and grey, into a message's
// array; a stream cut short or corrupt is dropped with a reason, one with
// junk before a marker is not; a frame with no memory for it is dropped.
#include <image_msgs/CvBridge.h>
#include "relay/relay.h"
#include "viewer/window.h"

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
    // A reduced JPEG fills the viewer's canvas unless told otherwise.
    EXPECT_EQ(webcam::RelayOptions().fillWidth, kCanvasWidth);
    EXPECT_EQ(webcam::RelayOptions().fillHeight, kCanvasHeight);
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
    }
}

TEST(Relay, DropsWhatDoesNotDecodeWholeAndSaysWhy)
{
    std::vector<uint8_t> good;
    cv::imencode(".jpg", Picture(640, 480, CV_8UC3), good);
    const size_t end = good.size() - 2;  // where the end-of-image marker starts
    auto with = [&](size_t at, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> out = good;
        out.insert(out.begin() + long(at), bytes.begin(), bytes.end());
        return out;
    };
    const auto keep = [](int r, int k, int t) { return cv::Mat(r, k, t); };
    const auto starved = [](int, int, int) -> cv::Mat { throw std::bad_alloc(); };
    const struct {
        const char *name;
        std::vector<uint8_t> jpeg;
        webcam::FrameSink sink;
        const char *why;  // nullptr: shown
    } cases[] = {
        {"whole", good, keep, nullptr},
        {"junk before the last marker, as MJPEG webcams send", with(end, {0x00, 0x11, 0x22, 0x33}), keep, nullptr},
        {"cut to half its bytes", std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() / 2)), keep,
         "Premature end of JPEG file"},
        {"a marker in the middle of its data", with(good.size() / 2, {0xff, 0xd9}), keep, "Corrupt JPEG data"},
        {"no memory for its samples", good, starved, "no memory"},
    };
    const cv::Mat expected = cv::imdecode(good, cv::IMREAD_COLOR);
    for (const auto &c : cases) {
        const webcam::Relayed out = webcam::RelayCompressed("jpeg", c.jpeg.data(), c.jpeg.size(), {}, c.sink);
        if (!c.why) {
            ASSERT_FALSE(out.frame.empty()) << c.name << ": " << out.why;
            EXPECT_EQ(cv::norm(out.frame, expected, cv::NORM_INF), 0) << c.name;
        } else {
            EXPECT_TRUE(out.frame.empty()) << c.name;
            EXPECT_NE(out.why.find(c.why), std::string::npos) << c.name << ": " << out.why;
        }
    }
    // A raw frame too: the process lives.
    std::vector<uint8_t> raw(64 * 48 * 3);
    const webcam::Relayed out = webcam::RelayRaw("bgr8", 48, 64, 64 * 3, false, raw.data(), raw.size(), {}, starved);
    EXPECT_TRUE(out.frame.empty());
    EXPECT_NE(out.why.find("no memory"), std::string::npos) << out.why;
}

}  // namespace
