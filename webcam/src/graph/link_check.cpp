#include "graph/link_check.h"
#include "graph/xmlrpc.h"

#include <ros/network.h>
#include <ros/ros.h>
#include <ros/xmlrpc_manager.h>

#include <algorithm>
#include <vector>

namespace webcam {

namespace {

// The other nodes at topic in role.
std::vector<std::string> Others(const std::string &topic, Role role)
{
    std::vector<std::string> nodes = ListedNodes(topic, role);
    nodes.erase(std::remove(nodes.begin(), nodes.end(), ros::this_node::getName()), nodes.end());
    return nodes;
}

std::string UriOf(const std::string &node)
{
    XmlRpcValue result;
    if (!CallMaster("lookupNode", Args({ros::this_node::getName(), node}), result) || !Succeeded(result) ||
        result[2].getType() != XmlRpcValue::TypeString)
        return "";
    return result[2];
}

// Why uri cannot be reached from here, or "".
std::string Unreachable(const std::string &uri, int timeoutMs = 1000)
{
    std::string host, why;
    uint32_t port = 0;
    if (!ros::network::splitURI(uri, host, port) || Answers(host, port, timeoutMs, why))
        return "";
    return why;
}

// Tells the subscription to topic of the node at uri (this node's when
// empty) that its publishers are at publishers, as the master does when one
// comes or goes: links to others are dropped, links to new ones made.
// Returns "" once it answered, else what failed.
std::string SetPublishers(const std::string &uri, const std::string &topic, const std::vector<std::string> &publishers)
{
    XmlRpcValue list, result;
    list.setSize(int(publishers.size()));
    for (size_t i = 0; i < publishers.size(); i++)
        list[int(i)] = publishers[i];
    const XmlRpcValue args = Args({ros::this_node::getName(), topic, list});
    if (uri.empty() ? CallSelf("publisherUpdate", args, result) : CallUri(uri, "publisherUpdate", args, result))
        return Succeeded(result) ? "" : "publisherUpdate was refused: " + std::string(result[1]);
    return CallError();
}

// The publishers' URIs the subscription to topic has links to, from
// roscpp's own list (the master is not asked: it may be on the host that
// is cut off).
std::vector<std::string> LinkedPublishers(const std::string &topic)
{
    std::vector<std::string> uris;
    XmlRpcValue result;
    if (!CallSelf("getBusInfo", Args({ros::this_node::getName()}), result) || !Succeeded(result) ||
        result[2].getType() != XmlRpcValue::TypeArray)
        return uris;
    XmlRpcValue &info = result[2];
    for (int i = 0; i < info.size(); i++) {
        XmlRpcValue &link = info[i];
        if (link.getType() == XmlRpcValue::TypeArray && link.size() > 4 && link[1].getType() == XmlRpcValue::TypeString &&
            link[2].getType() == XmlRpcValue::TypeString && link[4].getType() == XmlRpcValue::TypeString &&
            std::string(link[2]) == "i" && std::string(link[4]) == topic)
            uris.push_back(link[1]);
    }
    return uris;
}

// How a try to link from here ended, for the console.
std::string Linked(const std::string &failed, const char *what)
{
    return failed.empty() ? std::string("Linked ") + what + " from here"
                          : std::string("Could not link ") + what + " from here (" + failed + ")";
}

}  // namespace

std::vector<std::string> ListedNodes(const std::string &topic, Role role)
{
    std::vector<std::string> nodes;
    XmlRpcValue result;
    if (!CallMaster("getSystemState", Args({ros::this_node::getName()}), result) || !Succeeded(result) ||
        result[2].getType() != XmlRpcValue::TypeArray || result[2].size() < 2)
        return nodes;
    XmlRpcValue &entries = result[2][role == Role::Publisher ? 0 : 1];
    for (int i = 0; i < entries.size(); i++)
        if (std::string(entries[i][0]) == topic)
            for (int j = 0; j < entries[i][1].size(); j++)
                nodes.push_back(entries[i][1][j]);
    return nodes;
}

std::string PublishedType(const std::string &topic)
{
    XmlRpcValue result;
    if (!CallMaster("getPublishedTopics", Args({ros::this_node::getName(), ""}), result) || !Succeeded(result) ||
        result[2].getType() != XmlRpcValue::TypeArray)
        return "";
    XmlRpcValue &topics = result[2];
    for (int i = 0; i < topics.size(); i++)
        if (topics[i].getType() == XmlRpcValue::TypeArray && topics[i].size() == 2 &&
            std::string(topics[i][0]) == topic)
            return topics[i][1];
    return "";
}

void LinkCheck::publishers(const std::string &topic)
{
    const std::vector<std::string> linked = LinkedPublishers(topic);
    std::vector<std::string> listed;
    std::vector<std::pair<std::string, std::string>> unheard;  // (node, URI) the master did not tell of
    for (const std::string &node : Others(topic, Role::Publisher)) {
        const std::string uri = UriOf(node);
        if (uri.empty())
            continue;
        listed.push_back(uri);
        if (std::find(linked.begin(), linked.end(), uri) != linked.end()) {
            pending_.erase(uri);
            continue;
        }
        if (said_.count(uri))
            continue;
        const std::string why = Unreachable(uri);
        if (!why.empty()) {
            said_.insert(uri);
            ROS_WARN("relay: no frames from %s, which publishes %s at %s: %s. Set ROS_IP (or ROS_HOSTNAME) on "
                     "the host of %s to an address this host reaches",
                     node.c_str(), topic.c_str(), uri.c_str(), why.c_str(), node.c_str());
        } else if (!pending_.insert(uri).second) {
            // It answered a check ago too, and no link came: the master,
            // which tells a subscriber of publishers that come later, could
            // not reach this node.
            said_.insert(uri);
            unheard.emplace_back(node, uri);
        }
    }
    if (unheard.empty())
        return;
    const std::string failed = SetPublishers("", topic, listed);  // what the master would have told
    for (const auto &u : unheard)
        ROS_WARN("relay: %s publishes %s at %s, which answers, but the master has not told this node of it: "
                 "the master's host reaches this node at %s. %s; set ROS_IP (or ROS_HOSTNAME) on this host to an "
                 "address the master's host reaches",
                 u.first.c_str(), topic.c_str(), u.second.c_str(),
                 ros::XMLRPCManager::instance()->getServerURI().c_str(), Linked(failed, "to it").c_str());
}

void LinkCheck::subscribers(const std::string &topic, uint32_t connected)
{
    if (connected > 0)
        return;
    // The viewer in this process counts: the master tells it of this
    // node's publication as it tells any other node.
    const std::vector<std::string> nodes = ListedNodes(topic, Role::Subscriber);
    if (nodes.empty())
        return;
    const std::string own = ros::XMLRPCManager::instance()->getServerURI();
    if (!said_.insert("subscribers " + own).second)
        return;
    const std::string why = Unreachable(own);
    // What the master would have told each of them: all of the topic's
    // publishers.
    std::vector<std::string> publishers;
    for (const std::string &node : ListedNodes(topic, Role::Publisher)) {
        const std::string uri = UriOf(node);
        if (!uri.empty())
            publishers.push_back(uri);
    }
    std::string failed;
    for (const std::string &node : nodes) {
        const std::string uri = UriOf(node);
        const std::string f = uri.empty() ? "the master does not know " + node : SetPublishers(uri, topic, publishers);
        if (failed.empty())
            failed = f;
    }
    ROS_WARN("relay: %s subscribes to %s but has not linked to it, here at %s%s%s: the master could not reach "
             "that address to tell it. %s; set ROS_IP (or ROS_HOSTNAME) on this host to an address the master's "
             "host reaches",
             nodes.front().c_str(), topic.c_str(), own.c_str(), why.empty() ? "" : ": ", why.c_str(),
             Linked(failed, "it").c_str());
}

Relink::Outcome Relink::check(const std::string &topic, bool quiet, double now)
{
    Outcome o;
    if (!quiet) {
        known_.clear();
        lost_.clear();
        quietSince_ = -1;
        return o;
    }
    if (quietSince_ < 0)
        quietSince_ = nextProbe_ = now;
    if (now < nextProbe_)
        return o;
    // While a cut link is quiet, TCP still holds it: it is listed yet.
    const std::vector<std::string> linked = LinkedPublishers(topic);
    known_.insert(linked.begin(), linked.end());
    std::vector<std::string> back, answering;
    for (const std::string &uri : known_) {
        if (!Unreachable(uri, kProbeMs).empty()) {
            o.cut |= lost_.insert(uri).second;
            continue;
        }
        answering.push_back(uri);
        if (lost_.count(uri))
            back.push_back(uri);
    }
    // Linked anew before, and roscpp has dropped that link since.
    if (back.empty() && linked.empty() && now - relinked_ > kRetry)
        back = answering;
    const bool slow = lost_.empty() && now - quietSince_ > 5.0;
    nextProbe_ = now + (slow ? 1.0 : 0.25) - 0.01;
    if (back.empty())
        return o;
    // Drop the links to those back (and whatever TCP still holds in them),
    // then give the whole list again: roscpp links anew to what is new in
    // it and keeps the rest.
    std::vector<std::string> all(known_.begin(), known_.end()), others;
    std::set_difference(all.begin(), all.end(), back.begin(), back.end(), std::back_inserter(others));
    relinked_ = now;
    o.cut = true;
    o.failed = SetPublishers("", topic, others);
    if (o.failed.empty())
        o.failed = SetPublishers("", topic, all);
    if (!o.failed.empty())
        return o;
    for (const std::string &uri : back)
        lost_.erase(uri);
    o.relinked = back;
    return o;
}

}  // namespace webcam
