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
//                     8-bit grey from its own range or ~min to ~max
// Generated frames take ~width, ~height, ~rate, ~encoding (bgr, rgb, mono)
// and ~depth (uint8, uint16); ~count:=N sends N frames once a subscriber is
// there, then stops.

#include <image_msgs/CvBridge.h>
#include <image_msgs/Image.h>
#include <webcam/master_link.h>
#include <webcam/relay.h>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <ros/ros.h>
#include <sensor_msgs/CompressedImage.h>
#include <sensor_msgs/Image.h>

#include <cmath>
#include <cstdio>
#include <sstream>

namespace {

struct Settings {
    int width, height, count;
    double rate;
    std::string encoding, depth, color;
};

// Colour bars in B,G,R order (swapped for rgb), with a square moving across.
cv::Mat Pattern(const Settings &s, int frameNo)
{
    static const cv::Vec3b bars[] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                                     {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};
    cv::Mat bgr(s.height, s.width, CV_8UC3);
    for (int x = 0; x < s.width; x++)
        bgr.col(x).setTo(cv::Scalar(bars[x * 8 / s.width]));
    const int side = std::max(1, s.height / 4);
    const int x = (frameNo * 4) % std::max(1, s.width - side);
    cv::rectangle(bgr, cv::Rect(x, s.height / 2 - side / 2, side, side), cv::Scalar(40, 40, 40), cv::FILLED);
    return bgr;
}

cv::Mat Solid(const Settings &s)
{
    std::vector<double> values;
    std::stringstream in(s.color);
    for (std::string item; std::getline(in, item, ',');)
        values.push_back(std::stod(item));
    if (values.size() == 1)
        values.assign(3, values[0]);
    values.resize(3, 0);
    return cv::Mat(s.height, s.width, CV_8UC3, cv::Scalar(values[0], values[1], values[2]));
}

// A BGR 8-bit frame in the encoding and depth asked for.
image_msgs::Image Encode(cv::Mat bgr, const Settings &s, bool keepOrder)
{
    if (s.encoding == "mono")
        cv::cvtColor(bgr, bgr, cv::COLOR_BGR2GRAY);
    else if (s.encoding == "rgb" && !keepOrder)
        cv::cvtColor(bgr, bgr, cv::COLOR_BGR2RGB);
    if (s.depth == "uint16")
        bgr.convertTo(bgr, CV_16U, 257.0);  // 0xAB becomes 0xABAB
    return image_msgs::ToImage(bgr, s.encoding);
}

class Relay {
public:
    Relay(ros::NodeHandle &nh, ros::NodeHandle &pnh, ros::Publisher &pub, const std::string &topic, bool compressed)
        : pub_(pub), sub_(compressed ? nh.subscribe(topic, 2, &Relay::compressed, this)
                                     : nh.subscribe(topic, 2, &Relay::raw, this))
    {
        pnh.param("keep_order", options_.keepOrder, false);
        pnh.param("min", options_.min, std::nan(""));
        pnh.param("max", options_.max, std::nan(""));
    }

private:
    void raw(const sensor_msgs::ImageConstPtr &in)
    {
        send(webcam::RelayRaw(in->encoding, in->height, in->width, in->step, in->is_bigendian,
                              in->data.data(), in->data.size(), options_),
             in->header);
    }

    void compressed(const sensor_msgs::CompressedImageConstPtr &in)
    {
        send(webcam::RelayCompressed(in->format, in->data.data(), in->data.size(), options_), in->header);
    }

    void send(const webcam::Relayed &r, const std_msgs::Header &header)
    {
        if (r.frame.empty()) {
            ROS_WARN_THROTTLE(5, "relay: dropping %s", r.why.c_str());
            return;
        }
        image_msgs::Image out = image_msgs::ToImage(r.frame, r.encoding);
        out.header = header;
        pub_.publish(out);
    }

    ros::Publisher &pub_;
    ros::Subscriber sub_;
    webcam::RelayOptions options_;
};

// The type of a published topic, once a publisher has announced it.
std::string PublishedType(const std::string &topic)
{
    bool said = false;
    while (ros::ok()) {
        ros::master::V_TopicInfo topics;
        if (ros::master::getTopics(topics))
            for (const auto &t : topics)
                if (t.name == topic)
                    return t.datatype;
        if (!said)
            ROS_INFO("relay: waiting for a publisher on %s to learn its type", topic.c_str());
        said = true;
        ros::WallDuration(0.2).sleep();
    }
    return "";
}

}  // namespace

int main(int argc, char **argv)
{
    ros::init(argc, argv, "image_source");
    ros::NodeHandle nh, pnh("~");
    Settings s;
    std::string source;
    pnh.param<std::string>("source", source, "pattern");
    pnh.param("width", s.width, 640);
    pnh.param("height", s.height, 480);
    pnh.param("rate", s.rate, 10.0);
    pnh.param("count", s.count, 0);
    pnh.param<std::string>("encoding", s.encoding, "bgr");
    pnh.param<std::string>("depth", s.depth, "uint8");
    pnh.param<std::string>("color", s.color, "128");
    ros::Publisher pub = nh.advertise<image_msgs::Image>("image", 2);
    webcam::WatchMaster({});  // registers again with a restarted master

    if (source == "topic" || source == "compressed") {
        std::string topic;
        pnh.param<std::string>("topic", topic, source == "topic" ? "camera/image_raw" : "camera/image_raw/compressed");
        topic = nh.resolveName(topic);
        const std::string type = source == "compressed" ? "sensor_msgs/CompressedImage" : PublishedType(topic);
        if (type != "sensor_msgs/Image" && type != "sensor_msgs/CompressedImage") {
            if (!type.empty())
                ROS_FATAL("%s is a %s topic: the relay takes sensor_msgs/Image or sensor_msgs/CompressedImage",
                          topic.c_str(), type.c_str());
            return type.empty() ? 0 : 2;
        }
        Relay relay(nh, pnh, pub, topic, type == "sensor_msgs/CompressedImage");
        ros::spin();
        return 0;
    }

    cv::VideoCapture capture;
    std::string file;
    if (source == "camera") {
        int device;
        pnh.param("device", device, 0);
        capture.open(device);
    } else if (source == "file") {
        pnh.param<std::string>("file", file, "");
        capture.open(file);
    } else if (source != "pattern" && source != "solid") {
        ROS_FATAL("unknown ~source '%s' (pattern, solid, camera, file, topic, compressed)", source.c_str());
        return 2;
    }
    if ((source == "camera" || source == "file") && !capture.isOpened()) {
        ROS_FATAL("cannot open the %s source", source.c_str());
        return 1;
    }

    // A counted run is for someone listening: wait for them.
    while (s.count > 0 && ros::ok() && pub.getNumSubscribers() == 0)
        ros::WallDuration(0.01).sleep();

    ros::Rate rate(s.rate);
    int n = 0;
    for (; ros::ok() && (s.count == 0 || n < s.count); n++) {
        cv::Mat bgr;
        if (source == "pattern") {
            bgr = Pattern(s, n);
        } else if (source == "solid") {
            bgr = Solid(s);
        } else if (!capture.read(bgr)) {
            if (source == "file" && capture.open(file) && capture.read(bgr)) {
                // played again from the start
            } else {
                ROS_ERROR("the %s source ended", source.c_str());
                return 1;
            }
        }
        image_msgs::Image out = Encode(bgr, s, source == "solid");
        out.header.stamp = ros::Time::now();
        out.header.seq = uint32_t(n);
        pub.publish(out);
        ros::spinOnce();
        rate.sleep();
    }
    // After Ctrl-C roscpp's console is shut down: say it plainly.
    std::fprintf(stderr, "image_source: %d frames sent\n", n);
    return 0;
}
