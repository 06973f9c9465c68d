// sensor_msgs/Image as the relay receives it from another process, with
// roscpp's message traits and a reading serializer.
#pragma once

#include "relay/relay.h"

#include <image_msgs/Image.h>

#include <ros/message_traits.h>
#include <ros/serialization.h>
#include <sensor_msgs/Image.h>
#include <std_msgs/Header.h>

#include <functional>
#include <stdexcept>
#include <string>

namespace webcam {

// sensor_msgs/Image as the relay receives it from another process: the
// header fields are read as roscpp would read them, and the samples go
// straight from roscpp's receive buffer through the relay's conversion into
// the message it sends. A sensor_msgs::Image would first be zero-filled and
// copied out of that buffer, which roscpp frees once the message is read.
struct CameraFrame {
    std_msgs::Header header;
    uint32_t height = 0, width = 0;
    std::string encoding;
    uint8_t isBigendian = 0;
    uint32_t step = 0;
    // Set when the message is made: where the samples go.
    std::function<void(CameraFrame &, const uint8_t *data, size_t size)> relay;
    // Filled as the samples go.
    image_msgs::ImagePtr out;
    Relayed result;
};

}  // namespace webcam

namespace ros {
namespace message_traits {
template <> struct IsMessage<webcam::CameraFrame> : TrueType {};
template <> struct HasHeader<webcam::CameraFrame> : TrueType {};
// The type, checksum and definition of sensor_msgs/Image: the publisher's.
#define WEBCAM_CAMERA_FRAME_TRAIT(Trait)                                                             \
    template <> struct Trait<webcam::CameraFrame> {                                                  \
        static const char *value() { return Trait<sensor_msgs::Image>::value(); }                    \
        static const char *value(const webcam::CameraFrame &) { return value(); }                    \
    };
WEBCAM_CAMERA_FRAME_TRAIT(MD5Sum)
WEBCAM_CAMERA_FRAME_TRAIT(DataType)
WEBCAM_CAMERA_FRAME_TRAIT(Definition)
#undef WEBCAM_CAMERA_FRAME_TRAIT
}  // namespace message_traits

namespace serialization {
// Reading only: the relay never sends one.
template <> struct Serializer<webcam::CameraFrame> {
    inline static void read(IStream &stream, webcam::CameraFrame &m)
    {
        stream.next(m.header);
        stream.next(m.height);
        stream.next(m.width);
        stream.next(m.encoding);
        stream.next(m.isBigendian);
        stream.next(m.step);
        uint32_t size = 0;
        stream.next(size);
        const uint8_t *data = stream.advance(size);  // throws when the message is shorter than it says
        m.relay(m, data, size);
    }
    template <typename Stream> inline static void write(Stream &, const webcam::CameraFrame &)
    {
        throw std::logic_error("CameraFrame is received only");
    }
    inline static uint32_t serializedLength(const webcam::CameraFrame &) { return 0; }
};
}  // namespace serialization
}  // namespace ros

