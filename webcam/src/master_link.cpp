#include <webcam/master_link.h>

#include <ros/connection_manager.h>
#include <ros/master.h>
#include <ros/network.h>
#include <ros/ros.h>
#include <ros/xmlrpc_manager.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

namespace webcam {

namespace {

using XmlRpc::XmlRpcValue;

constexpr auto kWatchPeriod = std::chrono::seconds(1);
constexpr const char *kRosoutParam = "/rosout_disable_topics_generation";

// One XML-RPC call to host:port. roscpp's master::execute logs every failed
// attempt; while a master is down that would be once a second.
bool Call(const std::string &host, uint32_t port, const std::string &method, const XmlRpcValue &args,
          XmlRpcValue &result)
{
    XmlRpc::XmlRpcClient *client = ros::XMLRPCManager::instance()->getXMLRPCClient(host, int(port), "/");
    const bool sent = client->execute(method.c_str(), args, result);
    ros::XMLRPCManager::instance()->releaseXMLRPCClient(client);
    return sent && result.getType() == XmlRpcValue::TypeArray && result.size() == 3 &&
           result[0].getType() == XmlRpcValue::TypeInt;
}

bool CallMaster(const std::string &method, const XmlRpcValue &args, XmlRpcValue &result)
{
    return Call(ros::master::getHost(), ros::master::getPort(), method, args, result);
}

// The same call on this node's own slave API, which roscpp serves on its
// XML-RPC thread.
bool CallSelf(const std::string &method, const XmlRpcValue &args, XmlRpcValue &result)
{
    std::string host;
    uint32_t port = 0;
    return ros::network::splitURI(ros::XMLRPCManager::instance()->getServerURI(), host, port) &&
           Call(host, port, method, args, result);
}

XmlRpcValue Args(std::initializer_list<XmlRpcValue> values)
{
    XmlRpcValue args;
    args.setSize(int(values.size()));
    int i = 0;
    for (const XmlRpcValue &v : values)
        args[i++] = v;
    return args;
}

std::string NodeUri()
{
    return ros::XMLRPCManager::instance()->getServerURI();
}

std::string ServiceUri()
{
    return "rosrpc://" + ros::network::getHost() + ":" +
           std::to_string(ros::ConnectionManager::instance()->getTCPPort());
}

// [[topic, type], ...] of this node's publications or subscriptions.
std::vector<std::pair<std::string, std::string>> OwnTopics(const char *method)
{
    std::vector<std::pair<std::string, std::string>> topics;
    XmlRpcValue result;
    if (!CallSelf(method, Args({ros::this_node::getName()}), result) || int(result[0]) != 1)
        return topics;
    XmlRpcValue &list = result[2];
    if (list.getType() != XmlRpcValue::TypeArray)
        return topics;
    for (int i = 0; i < list.size(); i++)
        if (list[i].getType() == XmlRpcValue::TypeArray && list[i].size() == 2)
            topics.emplace_back(std::string(list[i][0]), std::string(list[i][1]));
    return topics;
}

class Watch {
public:
    void add(const MasterWatch *owner, std::vector<std::string> services)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        owners_[owner] = std::move(services);
        if (!thread_.joinable()) {
            stop_ = false;
            thread_ = std::thread(&Watch::run, this);
        }
        if (!exitHandlerSet_) {
            exitHandlerSet_ = true;
            std::atexit(&Watch::atExit);
        }
    }

    // The last owner gone, the watch stops.
    void remove(const MasterWatch *owner)
    {
        bool last;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            owners_.erase(owner);
            last = owners_.empty();
        }
        if (last)
            stop();
    }

    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
            thread_.join();
    }

    static Watch &instance()
    {
        // Never destroyed: the exit handler may run after static destructors.
        static Watch *watch = new Watch;
        return *watch;
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!wake_.wait_for(lock, kWatchPeriod, [this] { return stop_; })) {
            std::vector<std::string> services;
            for (const auto &owner : owners_)
                services.insert(services.end(), owner.second.begin(), owner.second.end());
            lock.unlock();
            check(services);
            lock.lock();
        }
    }

    // Asks the master what it knows under this node's name.
    void check(const std::vector<std::string> &services)
    {
        if (!ros::ok() || ros::isShuttingDown())
            return;
        const std::string name = ros::this_node::getName();
        XmlRpcValue result;
        if (!CallMaster("lookupNode", Args({name, name}), result))
            return;  // no master at the moment: try again later
        if (int(result[0]) == 1) {
            if (result[2].getType() == XmlRpcValue::TypeString && std::string(result[2]) != NodeUri()) {
                ROS_WARN("another node registered as %s; shutting down", name.c_str());
                ros::requestShutdown();
            }
            return;
        }
        registerAgain(name, services);
    }

    void registerAgain(const std::string &name, const std::vector<std::string> &services)
    {
        const std::string uri = NodeUri();
        XmlRpcValue result;
        for (const std::string &service : services)
            CallMaster("registerService", Args({name, service, ServiceUri(), uri}), result);
        for (const char *own : {"/get_loggers", "/set_logger_level"})  // roscpp serves these itself
            CallMaster("registerService", Args({name, name + own, ServiceUri(), uri}), result);
        for (const auto &topic : OwnTopics("getPublications"))
            CallMaster("registerPublisher", Args({name, topic.first, topic.second, uri}), result);
        for (const auto &topic : OwnTopics("getSubscriptions")) {
            if (!CallMaster("registerSubscriber", Args({name, topic.first, topic.second, uri}), result) ||
                int(result[0]) != 1 || result[2].getType() != XmlRpcValue::TypeArray)
                continue;
            // Publishers the new master already knows; roscpp drops links to
            // publishers missing from such a list, so an empty one is kept
            // back: live links stay, and the master announces newcomers.
            XmlRpcValue publishers = result[2];
            if (publishers.size() > 0)
                CallSelf("publisherUpdate", Args({"/master", topic.first, publishers}), result);
        }
        ROS_WARN("registered with a new ROS master at %s", ros::master::getURI().c_str());
    }

    // The process ends through exit() while roscpp still runs: roscpp's own
    // exit handler will not unregister, so do it here, for everything the
    // master lists under this node's name (roscpp's logger services
    // included) and the parameter subscription. The master drops only what
    // carries this node's URIs, never a newer node's.
    static void atExit()
    {
        instance().stop();
        if (!ros::ok() || ros::isShuttingDown())
            return;
        const std::string name = ros::this_node::getName();
        const std::string uri = NodeUri();
        XmlRpcValue state, result;
        if (!CallMaster("getSystemState", Args({name}), state) || int(state[0]) != 1 ||
            state[2].getType() != XmlRpcValue::TypeArray || state[2].size() != 3)
            return;
        const char *const kUnregister[] = {"unregisterPublisher", "unregisterSubscriber", "unregisterService"};
        for (int kind = 0; kind < 3; kind++) {
            const XmlRpcValue &entries = state[2][kind];
            for (int i = 0; i < entries.size(); i++) {
                XmlRpcValue entry = entries[i];
                if (entry.getType() != XmlRpcValue::TypeArray || entry.size() != 2 || !Lists(entry[1], name))
                    continue;
                const std::string key = entry[0];
                CallMaster(kUnregister[kind], Args({name, key, kind == 2 ? ServiceUri() : uri}), result);
            }
        }
        CallMaster("unsubscribeParam", Args({name, uri, kRosoutParam}), result);
    }

    static bool Lists(XmlRpcValue &nodes, const std::string &name)
    {
        if (nodes.getType() != XmlRpcValue::TypeArray)
            return false;
        for (int i = 0; i < nodes.size(); i++)
            if (nodes[i].getType() == XmlRpcValue::TypeString && std::string(nodes[i]) == name)
                return true;
        return false;
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    std::map<const MasterWatch *, std::vector<std::string>> owners_;
    bool stop_ = false;
    bool exitHandlerSet_ = false;
};

}  // namespace

MasterWatch::MasterWatch(std::vector<std::string> services)
{
    // roscpp's rosout appender looks up this cached parameter on its first
    // message, and the first look-up subscribes to it with the master under
    // the node's name. Were that first message the "shutdown request"
    // warning of a node that a newer one replaced, the master would take
    // the old URI back and shut the newer node down too. Look it up now.
    bool disableTopics = false;
    ros::param::getCached(kRosoutParam, disableTopics);
    Watch::instance().add(this, std::move(services));
}

MasterWatch::~MasterWatch()
{
    Watch::instance().remove(this);
}

}  // namespace webcam
