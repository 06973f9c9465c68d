#include "source/relay_node.h"

#include "graph/link_check.h"
#include "graph/relink.h"
#include "graph/topic_graph.h"
#include "graph/worker.h"
#include "relay/relay.h"
#include "relay/stream_watch.h"
#include "source/camera_frame.h"
#include "source/image_pool.h"

#include <image_msgs/CvBridge.h>
#include <image_msgs/Image.h>

#include <sensor_msgs/CompressedImage.h>
#include <sensor_msgs/Image.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>

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

struct RelayNode::Impl {
    Impl(ros::NodeHandle nh, ros::NodeHandle pnh, ros::Publisher pub, ImageSource::Hooks hooks)
        : nh(nh), pnh(pnh), hooks(std::move(hooks)), pub(pub)
    {
    }

    // The relay: from the topic's type once a publisher has announced it.
    void start(const std::string &source)
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

    ros::NodeHandle nh, pnh;
    ImageSource::Hooks hooks;
    ros::Publisher pub;
    std::atomic<int> frames{0};
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
};

RelayNode::RelayNode(ros::NodeHandle nh, ros::NodeHandle pnh, const std::string &source, ros::Publisher pub,
                     ImageSource::Hooks hooks)
    : impl_(new Impl(nh, pnh, pub, std::move(hooks)))
{
    impl_->start(source);
}

RelayNode::~RelayNode()
{
    impl_->graph.reset();
    impl_->probes.reset();
    impl_->sub.shutdown();
}

int RelayNode::sent() const
{
    return impl_->frames;
}

}  // namespace webcam
