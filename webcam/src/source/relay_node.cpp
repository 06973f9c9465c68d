#include "source/source.h"

#include <image_msgs/CvBridge.h>
#include <image_msgs/Image.h>
#include "graph/link_check.h"
#include "graph/master_watch.h"
#include "relay/relay.h"
#include "relay/stream_watch.h"
#include "graph/worker.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <sensor_msgs/CompressedImage.h>
#include <sensor_msgs/Image.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <sstream>
#include <thread>

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

// The messages a relay fills and sends, each reused once nobody else holds
// it (roscpp lets go of a message it serialized as soon as publish returns,
// a subscriber in the process once its callback is done): their arrays keep
// their size, so a steady stream neither allocates nor zero-fills.
class ImagePool {
public:
    image_msgs::ImagePtr take()
    {
        for (const image_msgs::ImagePtr &img : images_)
            if (img.use_count() == 1)
                return img;
        auto img = boost::make_shared<image_msgs::Image>();
        if (images_.size() < kKept)
            images_.push_back(img);
        return img;
    }

private:
    // Enough for the viewer's queue of 2, the frame it draws and the one
    // being filled, and then some.
    static constexpr size_t kKept = 6;
    std::vector<image_msgs::ImagePtr> images_;
};

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

}  // namespace
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

namespace webcam {

// Whether a node of this process publishes topic (a camera driver in the
// same nodelet manager): its messages then come unserialized, and are best
// taken as they are.
static bool PublishedHere(const std::string &topic)
{
    const std::vector<std::string> nodes = ListedNodes(topic, Role::Publisher);
    return std::find(nodes.begin(), nodes.end(), ros::this_node::getName()) != nodes.end();
}

// Arrivals are judged on this clock: a bag's /clock (use_sim_time) may
// pause, slow down or jump, this does not.
static double Now()
{
    return ros::SteadyTime::now().toSec();
}

struct ImageSource::Impl {
    Impl(ros::NodeHandle nh, ros::NodeHandle pnh, Hooks hooks) : nh(nh), pnh(pnh), hooks(std::move(hooks)) {}

    // The relay: from the topic's type once a publisher has announced it.
    void startRelay(const std::string &source)
    {
        pnh.param("keep_order", options.keepOrder, false);
        pnh.param("full_jpeg", options.fullJpeg, false);
        pnh.param("min", options.min, std::nan(""));
        pnh.param("max", options.max, std::nan(""));
        pnh.param<std::string>("topic", topic, source == "topic" ? "camera/image_raw" : "camera/image_raw/compressed");
        pnh.param("hold_late", holdLate, true);
        topic = nh.resolveName(topic);
        if (source == "compressed")
            subscribe("sensor_msgs/CompressedImage");
        // The graph is looked at on threads of their own, never on the
        // queue that carries the frames: every call there may wait up to
        // its deadline. The master: the topic's type, links it promises
        // that do not come, a thin link.
        graph.reset(new Worker(std::chrono::milliseconds(200), [this] { lookAtGraph(); }));
        // The publishers' hosts while the stream is quiet, looked at often:
        // the link back within a fraction of a second matters to the one
        // watching.
        probes.reset(new Worker(std::chrono::milliseconds(250), [this] { lookAtStream(); }));
    }

    ros::Subscriber subscription()
    {
        std::lock_guard<std::mutex> lock(subMutex);
        return sub;
    }

    void lookAtGraph()
    {
        const ros::Subscriber s = subscription();
        if (!s) {
            lookUpType();
            return;
        }
        if (double received = 0, sent = 0; thin(received, sent))
            ROS_WARN("relay: only %.1f of the %.0f frames a second of %s reach this host (%.2f MB each: all of them "
                     "take %.0f Mbit/s), and each one shown waits behind the others on the camera's side. %s",
                     received, sent, topic.c_str(), frameBytes / 1e6, frameBytes * 8.0 * sent / 1e6,
                     instead().c_str());
        const double now = Now();
        if (now < nextLinkCheck)
            return;
        nextLinkCheck = now + kLinkCheckPeriod;
        // Links the master promises that do not come, said on the console.
        if (s.getNumPublishers() == 0 || quiet())
            links.publishers(topic);
        links.subscribers(pub.getTopic(), pub.getNumSubscribers());
    }

    // Subscribes once the topic's type is known.
    void lookUpType()
    {
        const std::string type = PublishedType(topic);
        if (!type.empty()) {
            subscribe(type);
        } else if (!saidWaiting) {
            saidWaiting = true;
            ROS_INFO("relay: waiting for a publisher on %s to learn its type", topic.c_str());
        }
    }

    void subscribe(const std::string &type)
    {
        const bool here = type == "sensor_msgs/Image" && PublishedHere(topic);
        std::lock_guard<std::mutex> lock(subMutex);
        if (here) {
            sub = nh.subscribe(topic, 2, &Impl::raw, this);
            relinking = false;  // in-process: no link to lose
        } else if (type == "sensor_msgs/Image") {
            // Each message is made knowing where its samples go.
            ros::SubscribeOptions ops;
            ops.initByFullCallbackType<const ros::MessageEvent<const CameraFrame> &>(
                topic, 2, [this](const ros::MessageEvent<const CameraFrame> &in) { frame(in); },
                [this] {
                    auto m = boost::make_shared<CameraFrame>();
                    m->relay = [this](CameraFrame &f, const uint8_t *data, size_t size) {
                        f.out = pool.take();
                        f.result = RelayRaw(f.encoding, f.height, f.width, f.step, f.isBigendian, data, size, options,
                                            Into(*f.out));
                    };
                    return m;
                });
            sub = nh.subscribe(ops);
        } else if (type == "sensor_msgs/CompressedImage") {
            sub = nh.subscribe(topic, 2, &Impl::compressed, this);
            compressedTopic = true;
        } else {
            ROS_FATAL("%s is a %s topic: the relay takes sensor_msgs/Image or sensor_msgs/CompressedImage",
                      topic.c_str(), type.c_str());
            hooks.failed(2);
            if (graph)
                graph->stop();  // from its own task: nothing more to look at
        }
    }

    void raw(const ros::MessageEvent<const sensor_msgs::Image> &event)
    {
        const sensor_msgs::Image &in = *event.getConstMessage();
        if (!fresh(event.getPublisherName(), in.header, in.data.size()))
            return;
        const image_msgs::ImagePtr out = pool.take();
        send(RelayRaw(in.encoding, in.height, in.width, in.step, in.is_bigendian, in.data.data(), in.data.size(),
                      options, Into(*out)),
             out, in.header);
    }

    void frame(const ros::MessageEvent<const CameraFrame> &event)
    {
        const CameraFrame &in = *event.getConstMessage();
        if (fresh(event.getPublisherName(), in.header, size_t(in.height) * in.step))
            send(in.result, in.out, in.header);
    }

    void compressed(const ros::MessageEvent<const sensor_msgs::CompressedImage> &event)
    {
        const sensor_msgs::CompressedImage &in = *event.getConstMessage();
        if (!fresh(event.getPublisherName(), in.header, in.data.size()))
            return;
        const image_msgs::ImagePtr out = pool.take();
        send(RelayCompressed(in.format, in.data.data(), in.data.size(), options, Into(*out)), out, in.header);
    }

    // Whether a frame from publisher is to be shown, and not one stuck on
    // the way for seconds.
    bool fresh(const std::string &publisher, const std_msgs::Header &header, size_t bytes)
    {
        std::lock_guard<std::mutex> lock(streamMutex);
        if (publisher != streamOf) {  // another camera, maybe on another clock
            stream = StreamWatch();
            streamOf = publisher;
        }
        frameBytes = bytes;
        if (stream.arrived(Now(), header.stamp.toSec(), header.seq))
            return true;
        ROS_WARN_THROTTLE(5, "relay: not showing frames of %s that come over %.1f s later than its frames did "
                             "before the link to it was cut (what the link held)",
                          topic.c_str(), StreamWatch::kStale);
        return false;
    }

    bool quiet()
    {
        std::lock_guard<std::mutex> lock(streamMutex);
        return stream.quiet(Now());
    }

    bool thin(double &received, double &sent)
    {
        std::lock_guard<std::mutex> lock(streamMutex);
        return stream.thin(received, sent);
    }

    void lookAtStream()
    {
        if (!subscription() || !relinking)
            return;
        const double now = Now();
        const Relink::Outcome o = relink.check(topic, quiet(), now);
        if (o.cut && holdLate) {
            std::lock_guard<std::mutex> lock(streamMutex);
            stream.cut();
        }
        for (const std::string &uri : o.relinked)
            ROS_INFO("relay: the publisher of %s at %s answers again: linked to it anew", topic.c_str(), uri.c_str());
        if (!o.failed.empty())
            ROS_WARN_THROTTLE(5, "relay: the publisher of %s answers again, but linking to it anew failed: %s",
                              topic.c_str(), o.failed.c_str());
    }

    // What to view over a link too thin for this topic.
    std::string instead() const
    {
        if (compressedTopic)
            return "Lower the camera's rate, size or JPEG quality.";
        const std::string compressed = topic + "/compressed";
        if (PublishedType(compressed) == "sensor_msgs/CompressedImage")
            return "View " + compressed + " instead: roslaunch webcam viewer.launch source:=topic topic:=" + compressed;
        return "A compressed topic (image_transport's republish makes " + compressed +
               ") takes about a tenth of that.";
    }

    static FrameSink Into(image_msgs::Image &msg)
    {
        return [&msg](int rows, int cols, int type) { return image_msgs::ImageFrame(msg, rows, cols, type); };
    }

    void send(const Relayed &r, const image_msgs::ImagePtr &out, const std_msgs::Header &header)
    {
        if (r.frame.empty()) {
            ROS_WARN_THROTTLE(5, "relay: dropping %s", r.why.c_str());
            return;
        }
        out->encoding = r.encoding;
        out->header = header;
        pub.publish(out);
        ++frames;
    }

    // Generated frames, on a thread of their own: a camera's read blocks.
    void startGenerator(const std::string &source)
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
        generator = std::thread(&Impl::generate, this, source);
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

    ros::NodeHandle nh, pnh;
    Hooks hooks;
    ros::Publisher pub;
    std::atomic<int> frames{0};
    std::atomic<bool> stop{false};
    // the relay
    RelayOptions options;
    std::string topic;
    bool holdLate = true;  // frames a cut link held are not shown
    static constexpr double kLinkCheckPeriod = 3.0;  // s
    double nextLinkCheck = 0;
    bool saidWaiting = false;
    LinkCheck links;
    std::mutex streamMutex;  // the subscription's callbacks and the workers
    StreamWatch stream;
    std::string streamOf;  // the publisher it watches
    std::atomic<size_t> frameBytes{0};
    Relink relink;
    std::atomic<bool> relinking{true};
    std::atomic<bool> compressedTopic{false};
    std::mutex subMutex;
    ros::Subscriber sub;
    std::unique_ptr<Worker> graph, probes;
    ImagePool pool;
    // generated frames
    Settings s{};
    cv::VideoCapture capture;
    std::string file;
    std::thread generator;
    std::unique_ptr<MasterWatch> watch;
};

ImageSource::ImageSource(ros::NodeHandle nh, ros::NodeHandle pnh, Hooks hooks)
    : impl_(new Impl(nh, pnh, std::move(hooks)))
{
    Impl &i = *impl_;
    std::string source;
    pnh.param<std::string>("source", source, "pattern");
    i.pub = nh.advertise<image_msgs::Image>("image", 2);
    i.watch.reset(new MasterWatch({}));  // registers again with a restarted master
    if (source == "topic" || source == "compressed")
        i.startRelay(source);
    else
        i.startGenerator(source);
}

ImageSource::~ImageSource()
{
    impl_->stop = true;
    impl_->graph.reset();
    impl_->probes.reset();
    impl_->sub.shutdown();
    if (impl_->generator.joinable())
        impl_->generator.join();
}

int ImageSource::sent() const
{
    return impl_->frames;
}

}  // namespace webcam
