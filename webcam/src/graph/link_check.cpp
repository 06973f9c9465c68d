#include "graph/link_check.h"

#include "graph/topic_graph.h"

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

// How a try to link from here ended, for the console.
std::string Linked(const std::string &failed, const char *what)
{
    return failed.empty() ? std::string("Linked ") + what + " from here"
                          : std::string("Could not link ") + what + " from here (" + failed + ")";
}

}  // namespace

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

}  // namespace webcam
