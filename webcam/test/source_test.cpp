// The relay's receive side: the camera-frame deserializer against roscpp's
// own sensor_msgs::Image for the same bytes, in every encoding the relay
// takes; and the pool, which hands out only messages no one else holds.
#include "source/camera_frame.h"
#include "source/image_pool.h"

#include <image_msgs/CvBridge.h>

#include <opencv2/core.hpp>

#include <gtest/gtest.h>

#include <set>

namespace {

webcam::FrameSink Into(image_msgs::Image &msg)
{
    return [&msg](int rows, int cols, int type) { return image_msgs::ImageFrame(msg, rows, cols, type); };
}

std::vector<uint8_t> Serialized(const sensor_msgs::Image &m)
{
    std::vector<uint8_t> bytes(ros::serialization::serializationLength(m));
    ros::serialization::OStream out(bytes.data(), uint32_t(bytes.size()));
    ros::serialization::serialize(out, m);
    return bytes;
}

}  // namespace

TEST(CameraFrame, ReadsWhatRoscppReadsAndRelaysTheSamplesInPlace)
{
    std::vector<std::string> encodings = webcam::RelayedEncodings();
    encodings.push_back("no_such_encoding");
    uint32_t n = 0;
    for (const std::string &encoding : encodings) {
        SCOPED_TRACE(encoding);
        sensor_msgs::Image in;
        in.header.seq = ++n;
        in.header.stamp = ros::Time(1700000000 + n, 123456789);
        in.header.frame_id = "camera_" + std::to_string(n);
        in.height = 6;
        in.width = 8;
        in.encoding = encoding;
        in.is_bigendian = n % 2;
        in.step = 8 * 8 + 4;  // room for 4 channels of 16 bits, and padding
        in.data.resize(size_t(in.step) * in.height);
        cv::randu(cv::Mat(1, int(in.data.size()), CV_8U, in.data.data()), 0, 256);
        const std::vector<uint8_t> bytes = Serialized(in);

        sensor_msgs::Image expected;
        ros::serialization::IStream s1(const_cast<uint8_t *>(bytes.data()), uint32_t(bytes.size()));
        ros::serialization::deserialize(s1, expected);

        webcam::CameraFrame frame;
        const uint8_t *seen = nullptr;
        size_t seenSize = 0;
        frame.relay = [&](webcam::CameraFrame &f, const uint8_t *data, size_t size) {
            seen = data, seenSize = size;
            f.out = boost::make_shared<image_msgs::Image>();
            f.result = webcam::RelayRaw(f.encoding, f.height, f.width, f.step, f.isBigendian, data, size, {},
                                        Into(*f.out));
        };
        ros::serialization::IStream s2(const_cast<uint8_t *>(bytes.data()), uint32_t(bytes.size()));
        ros::serialization::deserialize(s2, frame);

        EXPECT_EQ(frame.header.seq, expected.header.seq);
        EXPECT_EQ(frame.header.stamp, expected.header.stamp);
        EXPECT_EQ(frame.header.frame_id, expected.header.frame_id);
        EXPECT_EQ(frame.height, expected.height);
        EXPECT_EQ(frame.width, expected.width);
        EXPECT_EQ(frame.encoding, expected.encoding);
        EXPECT_EQ(frame.isBigendian, expected.is_bigendian);
        EXPECT_EQ(frame.step, expected.step);
        // The samples are read where roscpp received them, not copied.
        ASSERT_EQ(seenSize, expected.data.size());
        EXPECT_EQ(seen + seenSize, bytes.data() + bytes.size());
        EXPECT_TRUE(std::equal(seen, seen + seenSize, expected.data.begin()));

        // The relay makes of them what it makes of roscpp's message.
        image_msgs::Image msg;
        const webcam::Relayed ref = webcam::RelayRaw(expected.encoding, expected.height, expected.width,
                                                     expected.step, expected.is_bigendian, expected.data.data(),
                                                     expected.data.size(), {}, Into(msg));
        EXPECT_EQ(frame.result.encoding, ref.encoding);
        EXPECT_EQ(frame.result.why, ref.why);
        EXPECT_EQ(frame.result.frame.empty(), encoding == "no_such_encoding");
        if (!ref.frame.empty()) {
            ASSERT_EQ(frame.result.frame.size(), ref.frame.size());
            ASSERT_EQ(frame.result.frame.type(), ref.frame.type());
            EXPECT_EQ(cv::norm(frame.result.frame, ref.frame, cv::NORM_INF), 0);
        }

        // Shorter than it says: refused as roscpp refuses it.
        ros::serialization::IStream cut(const_cast<uint8_t *>(bytes.data()), uint32_t(bytes.size() - 1));
        webcam::CameraFrame shortFrame;
        shortFrame.relay = frame.relay;
        EXPECT_THROW(ros::serialization::deserialize(cut, shortFrame), ros::serialization::StreamOverrunException);
    }
}

TEST(ImagePool, ReusesOnlyWhatNoOneElseHolds)
{
    webcam::ImagePool pool;
    const uint32_t taken = webcam::ImagePool::kKept + 2;
    std::vector<image_msgs::ImagePtr> held;
    for (uint32_t i = 0; i < taken; i++) {
        held.push_back(pool.take());
        held.back()->header.seq = i + 1;  // which message it is
    }
    std::set<image_msgs::Image *> distinct;
    for (const image_msgs::ImagePtr &m : held)
        distinct.insert(m.get());
    EXPECT_EQ(distinct.size(), taken);

    // Let go by the relay, still held by a subscriber: not handed out.
    const image_msgs::ImagePtr subscriber = held[3];
    held[3].reset();
    EXPECT_EQ(pool.take()->header.seq, 0u);  // a new one
    // Held by no one: handed out again, with its array as it was.
    held[2]->uint8_data.data.resize(1000);
    held[2].reset();
    const image_msgs::ImagePtr again = pool.take();
    EXPECT_EQ(again->header.seq, 3u);
    EXPECT_EQ(again->uint8_data.data.size(), 1000u);
    EXPECT_EQ(pool.take()->header.seq, 0u);  // the only free one is held again
    // One made while all kept ones were held is not kept.
    held.back().reset();
    EXPECT_EQ(pool.take()->header.seq, 0u);
}
