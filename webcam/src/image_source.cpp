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

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <ros/ros.h>
#include <sensor_msgs/CompressedImage.h>
#include <sensor_msgs/Image.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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

// sensor_msgs encodings the relay understands: name, ours, depth, channels,
// and how it is made displayable: as it comes (kAsIs), scaled to 8 bits
// (kScaled: depth and other one-channel 16-bit or float frames), or by an
// OpenCV colour conversion (Bayer mosaics, UYVY).
constexpr int kAsIs = -1, kScaled = -2;
struct Relayed {
    const char *name, *encoding;
    int depth, channels, conversion;
};
const Relayed kRelayed[] = {
    {"bgr8", "bgr", CV_8U, 3, kAsIs},     {"rgb8", "rgb", CV_8U, 3, kAsIs},
    {"bgra8", "bgra", CV_8U, 4, kAsIs},   {"rgba8", "rgba", CV_8U, 4, kAsIs},
    {"mono8", "mono", CV_8U, 1, kAsIs},   {"bgr16", "bgr", CV_16U, 3, kAsIs},
    {"rgb16", "rgb", CV_16U, 3, kAsIs},   {"bgra16", "bgra", CV_16U, 4, kAsIs},
    {"rgba16", "rgba", CV_16U, 4, kAsIs}, {"mono16", "mono", CV_16U, 1, kAsIs},
    {"8UC3", "bgr", CV_8U, 3, kAsIs},     {"8UC1", "mono", CV_8U, 1, kAsIs},
    {"16UC1", "mono", CV_16U, 1, kScaled}, {"32FC1", "mono", CV_32F, 1, kScaled},
    {"yuv422", "bgr", CV_8U, 2, cv::COLOR_YUV2BGR_UYVY},
    // OpenCV names a mosaic by the second row's second and third samples.
    {"bayer_rggb8", "bgr", CV_8U, 1, cv::COLOR_BayerBG2BGR},  {"bayer_bggr8", "bgr", CV_8U, 1, cv::COLOR_BayerRG2BGR},
    {"bayer_gbrg8", "bgr", CV_8U, 1, cv::COLOR_BayerGR2BGR},  {"bayer_grbg8", "bgr", CV_8U, 1, cv::COLOR_BayerGB2BGR},
    {"bayer_rggb16", "bgr", CV_16U, 1, cv::COLOR_BayerBG2BGR}, {"bayer_bggr16", "bgr", CV_16U, 1, cv::COLOR_BayerRG2BGR},
    {"bayer_gbrg16", "bgr", CV_16U, 1, cv::COLOR_BayerGR2BGR}, {"bayer_grbg16", "bgr", CV_16U, 1, cv::COLOR_BayerGB2BGR},
};

// A one-channel frame scaled to 8 bits from lo to hi; where a bound is NaN,
// the frame's own minimum or maximum is taken. 0 and NaN mark missing
// samples (as depth cameras do): they are left out and drawn black.
cv::Mat Scaled(const cv::Mat &in, double lo, double hi)
{
    cv::Mat f, out;
    in.convertTo(f, CV_32F);
    const cv::Mat valid = (f == f) & (f != 0);  // NaN is not equal to itself
    double mn = 0, mx = 0;
    cv::minMaxLoc(f, &mn, &mx, nullptr, nullptr, valid);
    if (!std::isnan(lo))
        mn = lo;
    if (!std::isnan(hi))
        mx = hi;
    const double scale = mx > mn ? 255.0 / (mx - mn) : 0.0;
    f.convertTo(out, CV_8U, scale, mx > mn ? -mn * scale : 128.0);
    out.setTo(0, ~valid);
    return out;
}

// The viewer draws samples in the order they come; its window wants blue
// first. Red-first frames are reordered unless asked to keep their order.
void BlueFirst(cv::Mat &frame, std::string &encoding)
{
    if (encoding == "rgb") {
        cv::cvtColor(frame, frame, cv::COLOR_RGB2BGR);
        encoding = "bgr";
    } else if (encoding == "rgba") {
        cv::cvtColor(frame, frame, cv::COLOR_RGBA2BGRA);
        encoding = "bgra";
    }
}

// Width and height from a PNG's or a baseline/progressive JPEG's header, so
// that a frame is refused before a decoder allocates what it claims.
bool CompressedSize(const uint8_t *p, size_t n, uint64_t &width, uint64_t &height)
{
    static const uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    auto be = [p](size_t at, int bytes) {
        uint64_t v = 0;
        for (int i = 0; i < bytes; i++)
            v = v << 8 | p[at + i];
        return v;
    };
    if (n >= 24 && std::equal(png, png + 8, p)) {  // the IHDR chunk comes first
        width = be(16, 4), height = be(20, 4);
        return true;
    }
    if (n < 4 || p[0] != 0xff || p[1] != 0xd8)
        return false;
    for (size_t at = 2; at + 9 <= n && p[at] == 0xff;) {
        const uint8_t marker = p[at + 1];
        if (marker == 0xff) {  // fill byte
            at++;
            continue;
        }
        if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc) {
            height = be(at + 5, 2), width = be(at + 7, 2);  // start of frame
            return true;
        }
        at += 2 + be(at + 2, 2);
    }
    return false;
}

// The largest decoded frame the relay accepts (an 8K frame is 33 M pixels).
constexpr uint64_t kMaxPixels = uint64_t(1) << 26;

class Relay {
public:
    Relay(ros::NodeHandle &nh, ros::NodeHandle &pnh, ros::Publisher &pub, const std::string &topic, bool compressed)
        : pub_(pub), sub_(compressed ? nh.subscribe(topic, 2, &Relay::compressed, this)
                                     : nh.subscribe(topic, 2, &Relay::raw, this))
    {
        pnh.param("keep_order", keepOrder_, false);
        pnh.param("min", min_, std::nan(""));
        pnh.param("max", max_, std::nan(""));
    }

private:
    static const Relayed *Find(const std::string &encoding)
    {
        for (const Relayed &r : kRelayed)
            if (encoding == r.name)
                return &r;
        return nullptr;
    }

    void raw(const sensor_msgs::ImageConstPtr &in)
    {
        const Relayed *r = Find(in->encoding);
        if (!r) {
            ROS_WARN_THROTTLE(5, "relay: encoding %s is not supported", in->encoding.c_str());
            return;
        }
        const size_t rowBytes = size_t(in->width) * r->channels * CV_ELEM_SIZE1(r->depth);
        if (in->step < rowBytes || in->data.size() < size_t(in->step) * in->height) {
            ROS_WARN_THROTTLE(5, "dropping a %s frame whose data is shorter than its size", r->name);
            return;
        }
        cv::Mat view(int(in->height), int(in->width), CV_MAKETYPE(r->depth, r->channels),
                     const_cast<uint8_t *>(in->data.data()), in->step);
        cv::Mat frame = view;
        if (r->depth == CV_16U && in->is_bigendian) {
            frame = view.clone();
            for (int y = 0; y < frame.rows; y++) {
                auto *p = frame.ptr<uint16_t>(y);
                for (int i = 0; i < frame.cols * r->channels; i++)
                    p[i] = uint16_t(p[i] << 8 | p[i] >> 8);
            }
        }
        send(frame, *r, in->header);
    }

    // A JPEG or PNG ("jpeg", "bgr8; jpeg compressed bgr8", ...), or a depth
    // frame as depth cameras compress it: "16UC1; compressedDepth png" is a
    // 12-byte header (format, two floats) and a 16-bit PNG; for 32FC1 the
    // PNG holds inverse depth q, and depth = a / (q - b), 0 for missing.
    void compressed(const sensor_msgs::CompressedImageConstPtr &in)
    {
        const std::string &format = in->format;
        const std::string original = format.substr(0, format.find_first_of("; "));
        const bool depth = format.find("compressedDepth") != std::string::npos;
        const uint8_t *p = in->data.data();
        size_t n = in->data.size();
        float a = 0, b = 0;
        if (depth) {
            if (n < 12) {
                ROS_WARN_THROTTLE(5, "relay: dropping a compressedDepth frame shorter than its header");
                return;
            }
            std::memcpy(&a, p + 4, 4);
            std::memcpy(&b, p + 8, 4);
            p += 12, n -= 12;
        }
        uint64_t width = 0, height = 0;
        if (!CompressedSize(p, n, width, height)) {
            ROS_WARN_THROTTLE(5, "relay: dropping a '%s' frame: no JPEG or PNG header with its size", format.c_str());
            return;
        }
        if (width * height > kMaxPixels) {
            ROS_WARN_THROTTLE(5, "relay: dropping a '%s' frame of %llux%llu pixels (at most %llu)", format.c_str(),
                              static_cast<unsigned long long>(width), static_cast<unsigned long long>(height),
                              static_cast<unsigned long long>(kMaxPixels));
            return;
        }
        cv::Mat frame;
        try {
            frame = cv::imdecode(cv::Mat(1, int(n), CV_8U, const_cast<uint8_t *>(p)), cv::IMREAD_UNCHANGED);
        } catch (const cv::Exception &) {
        }
        if (frame.empty()) {
            ROS_WARN_THROTTLE(5, "relay: cannot decode a '%s' frame", format.c_str());
            return;
        }
        const char *name = nullptr;  // what the decoded samples are
        if (depth && original == "32FC1" && frame.type() == CV_16UC1) {
            cv::Mat metres(frame.size(), CV_32F);
            for (int y = 0; y < frame.rows; y++)
                for (int x = 0; x < frame.cols; x++) {
                    const uint16_t q = frame.at<uint16_t>(y, x);
                    metres.at<float>(y, x) = q ? a / (float(q) - b) : std::nanf("");
                }
            frame = metres, name = "32FC1";
        } else if (frame.depth() == CV_16U && frame.channels() == 1) {
            name = original == "16UC1" ? "16UC1" : "mono16";
        } else {
            static const char *const kDecoded[2][5] = {{nullptr, "mono8", nullptr, "bgr8", "bgra8"},
                                                       {nullptr, "mono16", nullptr, "bgr16", "bgra16"}};
            if ((frame.depth() == CV_8U || frame.depth() == CV_16U) && frame.channels() <= 4)
                name = kDecoded[frame.depth() == CV_16U][frame.channels()];
        }
        if (!name) {
            ROS_WARN_THROTTLE(5, "relay: a '%s' frame decodes to samples it cannot show", format.c_str());
            return;
        }
        send(frame, *Find(name), in->header);
    }

    // Made displayable (scaled, converted, or put blue-first) and sent on.
    void send(cv::Mat frame, const Relayed &r, const std_msgs::Header &header)
    {
        std::string encoding = r.encoding;
        if (r.conversion == kScaled)
            frame = Scaled(frame, min_, max_);
        else if (r.conversion != kAsIs)
            cv::cvtColor(frame, frame, r.conversion);
        else if (!keepOrder_)
            BlueFirst(frame, encoding);
        image_msgs::Image out = image_msgs::ToImage(frame, encoding);
        out.header = header;
        pub_.publish(out);
    }

    ros::Publisher &pub_;
    ros::Subscriber sub_;
    bool keepOrder_ = false;
    double min_ = 0, max_ = 0;  // fixed bounds for scaled frames, or NaN
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
