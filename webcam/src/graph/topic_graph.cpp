// What the ROS graph says of a topic, asked of the master and of this
// node's own slave API, each call with its deadline.
#include "graph/topic_graph.h"

#include "graph/xmlrpc.h"

#include <ros/network.h>
#include <ros/ros.h>

namespace webcam {

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

std::string UriOf(const std::string &node)
{
    XmlRpcValue result;
    if (!CallMaster("lookupNode", Args({ros::this_node::getName(), node}), result) || !Succeeded(result) ||
        result[2].getType() != XmlRpcValue::TypeString)
        return "";
    return result[2];
}

// Why uri cannot be reached from here, or "".
std::string Unreachable(const std::string &uri, int timeoutMs)
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

}  // namespace webcam
