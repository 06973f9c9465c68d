// The viewer object in this process, driven through image_cb with the flags
// set directly. Needs a master and a display (run_with_graph.py).
#include "../canvas/test/frames.h"
#include "viewer/Orlin.h"
#include "viewer/equalize.h"
#include "viewer/window.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <pthread.h>

#include <array>

// AddressSanitizer's runtime calls these on every allocation and release
// (sanitizer/allocator_interface.h, which GCC does not install).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *));

// Every heap allocation (operator new, malloc, OpenCV's fastMalloc) that the
// counting thread makes while a test arms the count, outside OpenCV's resize
// and HighGUI calls; AddressSanitizer calls the hook.
namespace {
volatile bool gCounting = false;
pthread_t gCountingThread;
long gAllocations = 0;

void OnMalloc(const volatile void *, size_t)
{
    if (gCounting && pthread_equal(pthread_self(), gCountingThread) && webcam::gForeignCalls == 0)
        ++gAllocations;
}
void OnFree(const volatile void *) {}
}  // namespace

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

image_msgs::ImagePtr Message(const cv::Mat &frame, const std::string &encoding = "bgr")
{
    return boost::make_shared<image_msgs::Image>(image_msgs::ToImage(frame, encoding));
}

std::string Feed(Orlin &viewer, const image_msgs::ImagePtr &msg)
{
    CaptureStdout();
    viewer.image_cb(msg);
    return GetCapturedStdout();
}

cv::Vec3b Canvas(const Orlin &viewer)
{
    return viewer.resized.at<cv::Vec3b>(240, 320);
}

TEST(Viewer, ShownEqualizedFrameIsRewrittenInsideTheMessage)
{
    Orlin viewer;
    viewer.showing = true;
    viewer.useHistogramEqualization = true;
    auto msg = Message(cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(128)));
    EXPECT_EQ(Feed(viewer, msg), "#");
    EXPECT_EQ(viewer.img, msg);
    for (uint8_t v : msg->uint8_data.data)
        ASSERT_EQ(v, 141);
    EXPECT_EQ(Canvas(viewer), cv::Vec3b::all(141));
}

TEST(Viewer, HiddenFramesAreNeitherEqualizedNorScaled)
{
    Orlin viewer;
    viewer.useHistogramEqualization = true;
    auto msg = Message(cv::Mat(4, 4, CV_8UC3, cv::Scalar::all(128)));
    EXPECT_EQ(Feed(viewer, msg), ".");
    EXPECT_EQ(msg->uint8_data.data[0], 128);
    EXPECT_EQ(Canvas(viewer), cv::Vec3b::all(0));
}

TEST(Viewer, RgbFrameReachesTheCanvasInSourceOrder)
{
    Orlin viewer;
    viewer.showing = true;
    EXPECT_EQ(Feed(viewer, Message(cv::Mat(3, 5, CV_8UC3, cv::Scalar(1, 2, 3)), "rgb")), "#");
    EXPECT_EQ(Canvas(viewer), cv::Vec3b(1, 2, 3));
}

TEST(Viewer, ShownFrameWithoutAUsableViewWritesOneMarkAndTouchesNothing)
{
    Orlin viewer;
    viewer.showing = true;
    ASSERT_EQ(Feed(viewer, Message(cv::Mat(8, 8, CV_8UC3, cv::Scalar::all(50)))), "#");

    auto floating = boost::make_shared<image_msgs::Image>(*viewer.img);
    floating->depth = "float32";
    auto truncated = boost::make_shared<image_msgs::Image>(*viewer.img);
    truncated->uint8_data.data.resize(10);
    auto twoChannel = Message(cv::Mat(8, 8, CV_8UC2, cv::Scalar::all(9)));
    for (const auto &bad : {floating, truncated, twoChannel}) {
        EXPECT_EQ(Feed(viewer, bad), "#");
        EXPECT_TRUE(viewer.fromROS.empty() || viewer.fromROS.channels() == 2);
        EXPECT_EQ(Canvas(viewer), cv::Vec3b::all(50));  // the last good frame stays up
    }
}

// The node equalizes inside its message and scales after; in a nodelet
// manager the curves go into the scaling instead. The canvases are the same,
// and OpenCV's of the frame equalized first.
TEST(Viewer, NodeAndNodeletCanvasesAreTheSameAtEveryCameraSize)
{
    Orlin node;
    Orlin nodelet(ros::NodeHandle("nodelet_form"), Orlin::Frames::Shared);
    node.showing = nodelet.showing = true;
    std::vector<std::array<int, 2>> sizes = {{1000, 700}};  // and one for cv::resize
    for (const auto &s : canvas_test::kCameraSizes)
        sizes.push_back({s[0], s[1]});
    for (const auto &size : sizes)
        for (bool equalize : {false, true}) {
            cv::Mat frame(size[1], size[0], CV_8UC3);
            cv::randu(frame, 0, 200);
            node.useHistogramEqualization = nodelet.useHistogramEqualization = equalize;
            Feed(node, Message(frame));
            CaptureStdout();
            nodelet.shared_image_cb(Message(frame));
            GetCapturedStdout();
            cv::Mat want = frame.clone();
            if (equalize)
                webcam::EqualizeClipped(want);
            cv::resize(want, want, cv::Size(kCanvasWidth, kCanvasHeight), 0, 0, cv::INTER_LINEAR);
            EXPECT_EQ(cv::norm(node.resized, want, cv::NORM_INF), 0) << size[0] << "x" << size[1] << " " << equalize;
            EXPECT_EQ(cv::norm(nodelet.resized, want, cv::NORM_INF), 0) << size[0] << "x" << size[1] << " " << equalize;
        }
}

TEST(Viewer, ASteadyShownEqualizedStreamAllocatesNothingPerFrame)
{
    Orlin viewer;
    viewer.showing = true;
    viewer.useHistogramEqualization = true;
    cv::Mat bgr(1080, 1920, CV_8UC3), mono16(480, 640, CV_16UC1), bgra(720, 1280, CV_8UC4);
    cv::randu(bgr, 0, 256);
    cv::randu(mono16, 0, 65536);
    cv::randu(bgra, 0, 256);
    for (const auto &[frame, encoding] : {std::pair<cv::Mat, const char *>{bgr, "bgr"}, {mono16, "mono"},
                                          {bgra, "bgra"}}) {
        std::vector<image_msgs::ImagePtr> stream;
        for (int i = 0; i < 6; i++)
            stream.push_back(Message(frame, encoding));
        for (int i = 0; i < 2; i++)  // warm-up: buffers sized, window made
            Feed(viewer, stream[size_t(i)]);
        CaptureStdout();
        gAllocations = 0;
        gCountingThread = pthread_self();
        for (int i = 2; i < 6; i++) {
            gCounting = true;
            viewer.image_cb(stream[size_t(i)]);
            gCounting = false;
        }
        EXPECT_EQ(GetCapturedStdout(), "####");
        EXPECT_EQ(gAllocations, 0) << encoding;
    }
}

}  // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
    ros::init(argc, argv, "viewer_test", ros::init_options::NoSigintHandler | ros::init_options::AnonymousName);
    return RUN_ALL_TESTS();
}
