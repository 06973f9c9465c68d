// image_msgs/Image for roscpp: the struct, its traits and its serializer.
// The field order is the wire order of msg/Image.msg.
#pragma once

#include <image_msgs/ImageIdentity.h>
#include <image_msgs/wire.h>

#include <ros/message_traits.h>
#include <ros/serialization.h>
#include <std_msgs/Float32MultiArray.h>
#include <std_msgs/Float64MultiArray.h>
#include <std_msgs/Header.h>
#include <std_msgs/Int16MultiArray.h>
#include <std_msgs/Int32MultiArray.h>
#include <std_msgs/Int64MultiArray.h>
#include <std_msgs/Int8MultiArray.h>
#include <std_msgs/UInt16MultiArray.h>
#include <std_msgs/UInt32MultiArray.h>
#include <std_msgs/UInt64MultiArray.h>
#include <std_msgs/UInt8MultiArray.h>

#include <boost/shared_ptr.hpp>
#include <string>

namespace image_msgs {

struct Image {
    std_msgs::Header header;
    std::string encoding;
    std::string depth;
    std_msgs::UInt8MultiArray uint8_data;
    std_msgs::Int8MultiArray int8_data;
    std_msgs::UInt16MultiArray uint16_data;
    std_msgs::Int16MultiArray int16_data;
    std_msgs::UInt32MultiArray uint32_data;
    std_msgs::Int32MultiArray int32_data;
    std_msgs::UInt64MultiArray uint64_data;
    std_msgs::Int64MultiArray int64_data;
    std_msgs::Float32MultiArray float32_data;
    std_msgs::Float64MultiArray float64_data;

    typedef boost::shared_ptr<Image> Ptr;
    typedef boost::shared_ptr<Image const> ConstPtr;
};

typedef boost::shared_ptr<Image> ImagePtr;
typedef boost::shared_ptr<Image const> ImageConstPtr;

// Calls f on every field of m in wire order: the one list of the fields.
template <class M, class F> inline void VisitFields(M &m, F &&f)
{
    f(m.header);
    f(m.encoding);
    f(m.depth);
    f(m.uint8_data);
    f(m.int8_data);
    f(m.uint16_data);
    f(m.int16_data);
    f(m.uint32_data);
    f(m.int32_data);
    f(m.uint64_data);
    f(m.int64_data);
    f(m.float32_data);
    f(m.float64_data);
}

}  // namespace image_msgs

namespace ros {
namespace message_traits {

template <> struct IsMessage<image_msgs::Image> : TrueType {};
template <> struct IsMessage<const image_msgs::Image> : TrueType {};
template <> struct HasHeader<image_msgs::Image> : TrueType {};
template <> struct HasHeader<const image_msgs::Image> : TrueType {};

#define IMAGE_MSGS_IMAGE_TRAIT(Trait, text)                                   \
    template <> struct Trait<image_msgs::Image> {                             \
        static const char *value() { return text; }                           \
        static const char *value(const image_msgs::Image &) { return value(); } \
    };
IMAGE_MSGS_IMAGE_TRAIT(MD5Sum, image_msgs::kImageMd5)
IMAGE_MSGS_IMAGE_TRAIT(DataType, "image_msgs/Image")
IMAGE_MSGS_IMAGE_TRAIT(Definition, image_msgs::kImageDefinition)
#undef IMAGE_MSGS_IMAGE_TRAIT

}  // namespace message_traits

namespace serialization {

template <> struct Serializer<image_msgs::Image> {
    template <typename Stream, typename T> inline static void allInOne(Stream &stream, T m)
    {
        image_msgs::VisitFields(m, [&](auto &field) { stream.next(field); });
    }

    template <typename Stream> inline static void write(Stream &stream, const image_msgs::Image &m)
    {
        allInOne<Stream, const image_msgs::Image &>(stream, m);
    }

    inline static uint32_t serializedLength(const image_msgs::Image &m)
    {
        LStream stream;
        allInOne<LStream, const image_msgs::Image &>(stream, m);
        return stream.getLength();
    }

    // Received messages come from any publisher: every count is checked
    // against the bytes that remain before anything is allocated.
    inline static void read(IStream &stream, image_msgs::Image &m)
    {
        image_msgs::VisitFields(m, [&](auto &field) { image_msgs::wire::Read(stream, field); });
    }
};

}  // namespace serialization
}  // namespace ros
