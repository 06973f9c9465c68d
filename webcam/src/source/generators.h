// The frames image_source makes itself: a moving test pattern, one colour,
// a camera or a video file, published on a thread of their own (a camera's
// read blocks).
#pragma once

#include "source/source.h"

#include <ros/ros.h>

#include <memory>
#include <string>

namespace webcam {

class Generator {
public:
    // source is pattern, solid, camera or file, with its parameters from
    // pnh; frames go to pub. A source that is unknown or cannot be opened
    // is said on the console and reported to hooks.failed.
    Generator(ros::NodeHandle pnh, const std::string &source, ros::Publisher pub, ImageSource::Hooks hooks);
    ~Generator();

    int sent() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace webcam
