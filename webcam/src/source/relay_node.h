// image_source's relay: another topic's frames (sensor_msgs/Image or
// sensor_msgs/CompressedImage, as the topic's type says) made displayable
// and published, with the stream and its links watched on threads of their
// own (see source/source.h for its parameters).
#pragma once

#include "source/source.h"

#include <ros/ros.h>

#include <memory>
#include <string>

namespace webcam {

class RelayNode {
public:
    // source is topic or compressed, with its parameters from pnh; the
    // topic is resolved and subscribed on nh, frames go to pub.
    RelayNode(ros::NodeHandle nh, ros::NodeHandle pnh, const std::string &source, ros::Publisher pub,
              ImageSource::Hooks hooks);
    ~RelayNode();

    int sent() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace webcam
