// The polymorphic message base the control service records derive from.
// roscpp 1.15 keeps it only inside #if 0 in ros/message.h; this is that
// class with the same shape, so records written against it still build.
#pragma once

#include <ros/assert.h>
#include <ros/message.h>

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <string>

namespace ros {

class Message {
public:
    typedef boost::shared_ptr<Message> Ptr;
    typedef boost::shared_ptr<Message const> ConstPtr;
    Message() {}
    virtual ~Message() {}
    virtual const std::string __getDataType() const = 0;
    virtual const std::string __getMD5Sum() const = 0;
    virtual const std::string __getMessageDefinition() const = 0;
    inline static std::string __s_getDataType() { ROS_BREAK(); return std::string(""); }
    inline static std::string __s_getMD5Sum() { ROS_BREAK(); return std::string(""); }
    inline static std::string __s_getMessageDefinition() { ROS_BREAK(); return std::string(""); }
    virtual uint32_t serializationLength() const = 0;
    virtual uint8_t *serialize(uint8_t *write_ptr, uint32_t seq) const = 0;
    // Decodes from read_ptr. The receiver stores the number of bytes it
    // received in __serialized_length first: decoding never reads past them.
    virtual uint8_t *deserialize(uint8_t *read_ptr) = 0;
    uint32_t __serialized_length = 0;
};

typedef boost::shared_ptr<Message> MessagePtr;
typedef boost::shared_ptr<Message const> MessageConstPtr;

}  // namespace ros
