#include "graph/master_watch.h"
#include "graph/worker.h"
#include "graph/xmlrpc.h"

#include <ros/connection_manager.h>
#include <ros/master.h>
#include <ros/network.h>
#include <ros/ros.h>
#include <ros/xmlrpc_manager.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

namespace webcam {

namespace {

constexpr auto kWatchPeriod = std::chrono::seconds(1);
constexpr const char *kRosoutParam = "/rosout_disable_topics_generation";

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
        if (!worker_)
            worker_.reset(new Worker(kWatchPeriod, [this] { check(); }));
        if (!exitHandlerSet_) {
            exitHandlerSet_ = true;
            std::atexit(&Watch::atExit);
        }
    }

    // The last owner gone, the watch stops. Its worker is taken under the
    // lock and ended outside it: an owner added meanwhile (a nodelet loaded
    // while another unloads) starts a worker of its own.
    void remove(const MasterWatch *owner)
    {
        std::unique_ptr<Worker> worker;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            owners_.erase(owner);
            if (owners_.empty())
                worker = std::move(worker_);
        }
    }

    void stop()
    {
        std::unique_ptr<Worker> worker;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            worker = std::move(worker_);
        }
    }

    static Watch &instance()
    {
        // Never destroyed: the exit handler may run after static destructors.
        static Watch *watch = new Watch;
        return *watch;
    }

private:
    // What this process registered, from its own books (a restarted master
    // knows nothing): the services its parts named, roscpp's two logger
    // services, and the topics roscpp publishes and subscribes to.
    struct Record {
        std::vector<std::string> services;
        std::vector<std::pair<std::string, std::string>> publications, subscriptions;
    };

    Record record()
    {
        Record r;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (const auto &owner : owners_)
                r.services.insert(r.services.end(), owner.second.begin(), owner.second.end());
        }
        const std::string name = ros::this_node::getName();
        for (const char *own : {"/get_loggers", "/set_logger_level"})  // roscpp serves these itself
            r.services.push_back(name + own);
        r.publications = OwnTopics("getPublications");
        r.subscriptions = OwnTopics("getSubscriptions");
        return r;
    }

    // Asks the master what it knows under this node's name.
    void check()
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
                return;
            }
            // Known by name is not known in full: roscpp retries a
            // registration of its own (an advertise made while the master
            // was away) and so makes the node known to a new master.
            // roscpp registers its logger services once, at start: where the
            // master knows them, it knows what was registered with them.
            if (!incomplete_ && CallMaster("lookupService", Args({name, name + "/get_loggers"}), result) &&
                int(result[0]) == 1)
                return;
        }
        registerAgain(name);
    }

    // Every registration's answer is checked; what the master refused, or
    // did not answer, is tried again a period later, and said once.
    void registerAgain(const std::string &name)
    {
        const std::string uri = NodeUri();
        const Record r = record();
        std::vector<std::string> failed;
        XmlRpcValue result;
        const auto registered = [&](const char *what, const std::string &item, const XmlRpcValue &args) {
            const bool ok = CallMaster(what, args, result) && int(result[0]) == 1;
            if (!ok)
                failed.push_back(item);
            return ok;
        };
        for (const std::string &service : r.services)
            registered("registerService", service, Args({name, service, ServiceUri(), uri}));
        for (const auto &topic : r.publications)
            registered("registerPublisher", topic.first, Args({name, topic.first, topic.second, uri}));
        for (const auto &topic : r.subscriptions) {
            if (!registered("registerSubscriber", topic.first, Args({name, topic.first, topic.second, uri})) ||
                result[2].getType() != XmlRpcValue::TypeArray)
                continue;
            // Publishers the new master already knows; roscpp drops links to
            // publishers missing from such a list, so an empty one is kept
            // back: live links stay, and the master announces newcomers.
            XmlRpcValue publishers = result[2];
            if (publishers.size() > 0)
                CallSelf("publisherUpdate", Args({"/master", topic.first, publishers}), result);
        }
        if (failed.empty()) {
            ROS_WARN("registered with a new ROS master at %s", ros::master::getURI().c_str());
        } else if (!incomplete_) {
            std::string list;
            for (const std::string &item : failed)
                list += (list.empty() ? "" : ", ") + item;
            ROS_WARN("the new ROS master at %s did not take %s; trying again", ros::master::getURI().c_str(),
                     list.c_str());
        }
        incomplete_ = !failed.empty();
    }

    // The process ends through exit() while roscpp still runs: roscpp's own
    // exit handler will not unregister, so do it here, for everything the
    // process registered and the parameter subscription. The master drops
    // only what carries this node's URIs, never a newer node's.
    static void atExit()
    {
        Watch &watch = instance();
        watch.stop();
        if (!ros::ok() || ros::isShuttingDown())
            return;
        const std::string name = ros::this_node::getName();
        const std::string uri = NodeUri();
        const Record r = watch.record();
        XmlRpcValue result;
        for (const auto &topic : r.publications)
            CallMaster("unregisterPublisher", Args({name, topic.first, uri}), result);
        for (const auto &topic : r.subscriptions)
            CallMaster("unregisterSubscriber", Args({name, topic.first, uri}), result);
        for (const std::string &service : r.services)
            CallMaster("unregisterService", Args({name, service, ServiceUri()}), result);
        CallMaster("unsubscribeParam", Args({name, uri, kRosoutParam}), result);
    }

    std::mutex mutex_;
    std::unique_ptr<Worker> worker_;
    std::map<const MasterWatch *, std::vector<std::string>> owners_;
    bool incomplete_ = false;  // the last registration with a new master left something out
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
