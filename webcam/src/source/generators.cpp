#include "source/generators.h"

#include <image_msgs/CvBridge.h>
#include <image_msgs/Image.h>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <thread>
#include <vector>

namespace webcam {

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
image_msgs::ImagePtr Encode(cv::Mat bgr, const Settings &s, bool keepOrder)
{
    if (s.encoding == "mono")
        cv::cvtColor(bgr, bgr, cv::COLOR_BGR2GRAY);
    else if (s.encoding == "rgb" && !keepOrder)
        cv::cvtColor(bgr, bgr, cv::COLOR_BGR2RGB);
    if (s.depth == "uint16")
        bgr.convertTo(bgr, CV_16U, 257.0);  // 0xAB becomes 0xABAB
    return boost::make_shared<image_msgs::Image>(image_msgs::ToImage(bgr, s.encoding));
}

}  // namespace

struct Generator::Impl {
    Impl(ros::NodeHandle pnh, ros::Publisher pub, ImageSource::Hooks hooks)
        : pnh(pnh), pub(pub), hooks(std::move(hooks))
    {
    }

    // Generated frames, on a thread of their own: a camera's read blocks.
    void start(const std::string &source)
    {
        pnh.param("width", s.width, 640);
        pnh.param("height", s.height, 480);
        pnh.param("rate", s.rate, 10.0);
        pnh.param("count", s.count, 0);
        pnh.param<std::string>("encoding", s.encoding, "bgr");
        pnh.param<std::string>("depth", s.depth, "uint8");
        pnh.param<std::string>("color", s.color, "128");
        if (source == "camera") {
            int device;
            pnh.param("device", device, 0);
            capture.open(device);
        } else if (source == "file") {
            pnh.param<std::string>("file", file, "");
            capture.open(file);
        } else if (source != "pattern" && source != "solid") {
            ROS_FATAL("unknown ~source '%s' (pattern, solid, camera, file, topic, compressed)", source.c_str());
            hooks.failed(2);
            return;
        }
        if ((source == "camera" || source == "file") && !capture.isOpened()) {
            ROS_FATAL("cannot open the %s source", source.c_str());
            hooks.failed(1);
            return;
        }
        thread = std::thread(&Impl::generate, this, source);
    }

    void generate(const std::string source)
    {
        // A counted run is for someone listening: wait for them.
        while (s.count > 0 && running() && pub.getNumSubscribers() == 0)
            ros::WallDuration(0.01).sleep();
        ros::WallRate rate(s.rate);
        for (int n = 0; running() && (s.count == 0 || n < s.count); n++) {
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
                    hooks.failed(1);
                    return;
                }
            }
            image_msgs::ImagePtr out = Encode(bgr, s, source == "solid");
            out->header.stamp = ros::Time::now();
            out->header.seq = uint32_t(n);
            pub.publish(out);
            ++frames;
            rate.sleep();
        }
        if (running())
            hooks.done();
    }

    bool running() const { return !stop && ros::ok(); }

    ros::NodeHandle pnh;
    ros::Publisher pub;
    ImageSource::Hooks hooks;
    std::atomic<int> frames{0};
    std::atomic<bool> stop{false};
    Settings s{};
    cv::VideoCapture capture;
    std::string file;
    std::thread thread;
};

Generator::Generator(ros::NodeHandle pnh, const std::string &source, ros::Publisher pub, ImageSource::Hooks hooks)
    : impl_(new Impl(pnh, pub, std::move(hooks)))
{
    impl_->start(source);
}

Generator::~Generator()
{
    impl_->stop = true;
    if (impl_->thread.joinable())
        impl_->thread.join();
}

int Generator::sent() const
{
    return impl_->frames;
}

}  // namespace webcam
