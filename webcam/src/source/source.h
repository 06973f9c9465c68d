// image_source: publishes image_msgs/Image on "image" from
//   ~source:=pattern  a moving test pattern (default)
//   ~source:=solid    one colour, ~color:="B,G,R" in channel order (or one grey value)
//   ~source:=camera   a camera device, ~device:=0
//   ~source:=file     a video or image file, ~file:=PATH (played in a loop)
//   ~source:=topic    a relay of a sensor_msgs/Image topic, ~topic:=camera/image_raw,
//                     or of a sensor_msgs/CompressedImage one (JPEG, PNG,
//                     compressedDepth), as the topic's type says;
//   ~source:=compressed  the same for a compressed topic that has no
//                     publisher yet, ~topic:=camera/image_raw/compressed.
//                     Relayed frames:
//                     red-first frames are sent blue-first, as the window
//                     draws them right, unless ~keep_order:=true; Bayer and
//                     yuv422 frames as bgr; depth (16UC1, 32FC1) scaled to
//                     8-bit grey from its own range or ~min to ~max; JPEGs
//                     decoded at the smallest scale that fills the window
//                     unless ~full_jpeg:=true; after a cut link, frames
//                     it held are not shown unless ~hold_late:=false
// Generated frames take ~width, ~height, ~rate, ~encoding (bgr, rgb, mono)
// and ~depth (uint8, uint16); ~count:=N sends N frames once a subscriber is
// there, then stops.
//
// The same source runs as the program image_source and as the nodelet
// webcam/image_source. The relay is in relay_node.h, the generated
// frames in generators.h.
#pragma once

#include <ros/ros.h>

#include <functional>
#include <memory>

namespace webcam {

class ImageSource {
public:
    struct Hooks {
        // The source cannot go on: 1 it could not be opened or it ended,
        // 2 it was asked for something it does not do. Said before on the
        // console.
        std::function<void(int status)> failed;
        // A counted run has sent its frames.
        std::function<void()> done;
    };

    // Reads its parameters from pnh and publishes "image" on nh. Returns at
    // once: frames are made on a thread of the source's own, and a relay
    // that has to learn its topic's type asks the master from a timer on
    // nh's callback queue.
    ImageSource(ros::NodeHandle nh, ros::NodeHandle pnh, Hooks hooks);
    ~ImageSource();

    int sent() const;  // frames made and published so far

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace webcam
