// The camera viewer: subscribes to "image", marks every frame on stdout and,
// while shown, equalizes (optionally) and displays it at 640 x 480.
#pragma once

#include <webcam/dump.h>
#include <webcam/dumpstop.h>
#include <webcam/help.h>
#include <webcam/hide.h>
#include <webcam/info.h>
#include <webcam/play.h>
#include <webcam/playstop.h>
#include <webcam/setting.h>
#include <webcam/show.h>

#include "viewer/display.h"

#include <webcam/canvas_resize.h>

#include <image_msgs/CvBridge.h>
#include <image_msgs/Image.h>

#include <opencv2/core.hpp>
#include <ros/ros.h>

#include <string>
#include <vector>

class Orlin {
public:
    // How frames arrive. The node deserializes a message of its own for
    // each frame, which the equalization rewrites in place. In a nodelet
    // manager a message comes from the publisher in the same process and is
    // shared with every other subscriber: it is only read, and a frame to
    // equalize is equalized into the viewer's own buffer.
    enum class Frames { Owned, Shared };

    Orlin();
    // Services and subscription on nh (its namespace and callback queue).
    Orlin(ros::NodeHandle nh, Frames frames);
    ~Orlin();

    // One frame: the message is kept in img while it is handled.
    void image_cb(const image_msgs::ImagePtr &msg);
    // One frame shared with other subscribers, kept in sharedImg.
    void shared_image_cb(const image_msgs::ImageConstPtr &msg);
    // Equalizes an 8-bit 3-channel frame in place.
    void histogramEqualization(cv::Mat &frame);

    bool help(webcam::help::Request &req, webcam::help::Response &res);
    bool dump(webcam::dump::Request &req, webcam::dump::Response &res);
    bool dumpstop(webcam::dumpstop::Request &req, webcam::dumpstop::Response &res);
    bool play(webcam::play::Request &req, webcam::play::Response &res);
    bool playstop(webcam::playstop::Request &req, webcam::playstop::Response &res);
    bool show(webcam::show::Request &req, webcam::show::Response &res);
    bool hide(webcam::hide::Request &req, webcam::hide::Response &res);
    bool info(webcam::info::Request &req, webcam::info::Response &res);
    bool set(webcam::setting::Request &req, webcam::setting::Response &res);

    // The resolved names of the services above, for the master watch that
    // the program keeps.
    std::vector<std::string> serviceNames() const;

    image_msgs::ImagePtr img;        // the frame being handled
    image_msgs::ImageConstPtr sharedImg;  // or the shared one
    image_msgs::CvBridge bridge;     // its zero-copy view
    bool showing;                    // display path on
    bool useHistogramEqualization;   // equalize shown frames
    cv::Mat fromROS;                 // view of the shown frame (aliases img)
    cv::Mat resized;                 // the 640 x 480 canvas
    cv::Mat equalized;               // a shared frame, equalized

private:
    void mark();
    void showFrame();
    void scale(const cv::Mat &frame, const webcam::CanvasLut *curves, bool ours);
    void openWindow();
    void pumpWindow(const ros::WallTimerEvent &);

    bool windowPossible_ = false;       // a display was found; Qt keeps it from then on
    unsigned long frameCallbacks_ = 0;  // reported at exit by test builds
    webcam::DisplayScratch converted_;  // frames that are not 8-bit 3-channel, made displayable
    webcam::CanvasResize canvas_;       // the scaling to the canvas, OpenCV's bytes at camera sizes
    webcam::CanvasLut curves_;          // a shared frame's tone curves, applied inside the scaling
    Frames frames_;
    ros::NodeHandle nh_;
    std::vector<ros::ServiceServer> services_;
    ros::Subscriber imageSub_;
    ros::WallTimer windowTimer_;
    ros::WallTime pumped_;  // when HighGUI last processed window events
};
