// The viewer object in this process, driven through image_cb with the flags
// set directly. Needs a master and a display (run_with_graph.py).
#include <webcam/Orlin.h>

#include <gtest/gtest.h>

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

}  // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    ros::init(argc, argv, "viewer_test", ros::init_options::NoSigintHandler | ros::init_options::AnonymousName);
    return RUN_ALL_TESTS();
}
