#include <image_msgs/CvBridge.h>
#include "viewer/display.h"

#include <gtest/gtest.h>

#include <random>

using image_msgs::CvBridge;
using image_msgs::Image;

namespace {

template <class Array> void Layout(Array &a, std::vector<uint32_t> sizes, std::vector<uint32_t> strides,
                                   uint32_t offset, size_t dataLen)
{
    a.layout.dim.resize(sizes.size());
    for (size_t i = 0; i < sizes.size(); i++) {
        a.layout.dim[i].size = sizes[i];
        a.layout.dim[i].stride = i < strides.size() ? strides[i] : 0;
    }
    a.layout.data_offset = offset;
    a.data.resize(dataLen);
    for (size_t i = 0; i < dataLen; i++)
        a.data[i] = typename decltype(a.data)::value_type(i * 7);
}

Image Frame8(uint32_t rows, uint32_t cols, uint32_t channels, uint32_t rowStride, uint32_t offset, size_t dataLen)
{
    Image img;
    img.depth = "uint8";
    img.encoding = "rgb";
    Layout(img.uint8_data, {rows, cols, channels}, {rows * rowStride, rowStride, channels}, offset, dataLen);
    return img;
}

TEST(Bridge, Uint8ViewAliasesTheMessageWithItsStrideAndOffset)
{
    Image img = Frame8(2, 3, 3, 10, 4, 4 + 10 + 9);
    CvBridge bridge;
    ASSERT_TRUE(bridge.fromImage(img, ""));
    const cv::Mat view = bridge.toIpl();
    EXPECT_EQ(view.type(), CV_8UC3);
    EXPECT_EQ(view.rows, 2);
    EXPECT_EQ(view.cols, 3);
    EXPECT_EQ(view.step[0], 10u);
    EXPECT_EQ(view.data, img.uint8_data.data.data() + 4);  // no copy
    EXPECT_EQ(view.at<cv::Vec3b>(1, 0)[0], img.uint8_data.data[4 + 10]);  // channel order kept
}

TEST(Bridge, Uint16ViewStrideIsInBytes)
{
    Image img;
    img.depth = "uint16";
    Layout(img.uint16_data, {2, 2, 1}, {6, 3, 1}, 0, 5);
    CvBridge bridge;
    ASSERT_TRUE(bridge.fromImage(img, ""));
    EXPECT_EQ(bridge.toIpl().type(), CV_16UC1);
    EXPECT_EQ(bridge.toIpl().step[0], 6u);
    EXPECT_EQ(bridge.toIpl().at<uint16_t>(1, 1), img.uint16_data.data[4]);
}

TEST(Bridge, RefusesLayoutsOutsideTheArrayAndDropsTheOldView)
{
    struct Case {
        const char *what;
        Image img;
    };
    Image twoDims = Frame8(2, 2, 3, 6, 0, 12);
    twoDims.uint8_data.layout.dim.pop_back();
    Image wrongDepth = Frame8(2, 2, 3, 6, 0, 12);
    wrongDepth.depth = "float32";
    Image emptyDepth = Frame8(2, 2, 3, 6, 0, 12);
    emptyDepth.depth = "";
    const Case cases[] = {
        {"two dimensions", twoDims},
        {"float32 depth", wrongDepth},
        {"no depth", emptyDepth},
        {"zero rows", Frame8(0, 2, 3, 6, 0, 12)},
        {"zero channels", Frame8(2, 2, 0, 6, 0, 12)},
        {"stride shorter than a row", Frame8(2, 2, 3, 5, 0, 12)},
        {"last row ends past data", Frame8(2, 2, 3, 6, 0, 11)},
        {"offset pushes it past data", Frame8(2, 2, 3, 6, 1, 12)},
        {"offset beyond data", Frame8(1, 1, 1, 1, 0xFFFFFFFF, 4)},
        {"width times channels overflows", Frame8(1, 0x80000000u, 3, 0xFFFFFFFF, 0, 64)},
        {"rows times stride overflows", Frame8(0xFFFFFFFF, 1, 1, 0xFFFFFFFF, 0, 64)},
        {"too many channels", Frame8(1, 1, 100000, 100000, 0, 64)},
    };
    for (const Case &c : cases) {
        Image good = Frame8(2, 2, 3, 6, 0, 12);
        Image bad = c.img;
        CvBridge bridge;
        ASSERT_TRUE(bridge.fromImage(good, ""));
        EXPECT_FALSE(bridge.fromImage(bad, "")) << c.what;
        EXPECT_TRUE(bridge.toIpl().empty()) << c.what;
    }
}

// Whatever a publisher sends, a view the bridge hands out lies inside data:
// reading every sample of it must not trip AddressSanitizer.
TEST(Bridge, RandomLayoutsNeverYieldAViewOutsideTheArray)
{
    std::mt19937 rng(11);
    auto pick = [&](std::initializer_list<uint32_t> v) { return *(v.begin() + rng() % v.size()); };
    int accepted = 0;
    for (int round = 0; round < 20000; round++) {
        Image img;
        img.depth = rng() % 2 ? "uint8" : "uint16";
        std::vector<uint32_t> sizes, strides;
        const int dims = pick({3, 3, 3, 2, 4});
        for (int d = 0; d < dims; d++) {
            sizes.push_back(pick({0, 1, 2, 3, 4, 7, 0xFFFF, 0x80000000u, 0xFFFFFFFF}));
            strides.push_back(pick({0, 1, 3, 4, 12, 21, 0xFFFFFFFF}));
        }
        const uint32_t offset = pick({0, 0, 1, 5, 0xFFFFFFFF});
        const size_t len = rng() % 64;
        if (img.depth == "uint8")
            Layout(img.uint8_data, sizes, strides, offset, len);
        else
            Layout(img.uint16_data, sizes, strides, offset, len);
        CvBridge bridge;
        if (!bridge.fromImage(img, ""))
            continue;
        accepted++;
        const cv::Mat view = bridge.toIpl();
        volatile unsigned sum = 0;
        for (int r = 0; r < view.rows; r++)
            for (size_t b = 0; b < view.cols * view.elemSize(); b++)
                sum = sum + view.ptr<uint8_t>(r)[b];
    }
    EXPECT_GT(accepted, 50);  // the generator does produce valid layouts too
}

TEST(Bridge, ToImageRoundTripsThroughTheView)
{
    cv::Mat frame(3, 4, CV_16UC3);
    cv::randu(frame, 0, 65535);
    Image img = image_msgs::ToImage(frame, "bgr");
    CvBridge bridge;
    ASSERT_TRUE(bridge.fromImage(img, "bgr"));
    EXPECT_EQ(cv::norm(bridge.toIpl(), frame, cv::NORM_INF), 0);
    EXPECT_FALSE(bridge.fromImage(img, "mono"));  // no colour conversion on offer
}

TEST(Display, FramesThatAreNot8BitColourAreConvertedForShowing)
{
    webcam::DisplayScratch scratch;
    cv::Mat colour(2, 2, CV_8UC3, cv::Scalar(1, 2, 3));
    EXPECT_EQ(webcam::DisplayFrame(colour, scratch).data, colour.data);  // shown as is, in place

    cv::Mat grey(2, 2, CV_8UC1, cv::Scalar(9));
    EXPECT_EQ(webcam::DisplayFrame(grey, scratch).at<cv::Vec3b>(1, 1), cv::Vec3b(9, 9, 9));

    cv::Mat deep(2, 2, CV_16UC3, cv::Scalar(0x01FF, 0xFF00, 0x00FF));
    EXPECT_EQ(webcam::DisplayFrame(deep, scratch).at<cv::Vec3b>(0, 0), cv::Vec3b(0x01, 0xFF, 0x00));

    cv::Mat four(2, 2, CV_8UC4, cv::Scalar(1, 2, 3, 4));
    EXPECT_EQ(webcam::DisplayFrame(four, scratch).at<cv::Vec3b>(0, 1), cv::Vec3b(1, 2, 3));

    // A steady stream of frames that need both steps reuses the same buffers.
    cv::Mat deepGrey(2, 2, CV_16UC1, cv::Scalar(0x3400));
    const cv::Mat first = webcam::DisplayFrame(deepGrey, scratch);
    EXPECT_EQ(webcam::DisplayFrame(deepGrey, scratch).data, first.data);
    EXPECT_EQ(webcam::DisplayFrame(deepGrey, scratch).at<cv::Vec3b>(1, 0), cv::Vec3b::all(0x34));

    EXPECT_TRUE(webcam::DisplayFrame(cv::Mat(2, 2, CV_8UC2), scratch).empty());
    EXPECT_TRUE(webcam::DisplayFrame(cv::Mat(2, 2, CV_32FC3), scratch).empty());
    EXPECT_TRUE(webcam::DisplayFrame(cv::Mat(), scratch).empty());
}

}  // namespace
