#include <webcam/link_check.h>
#include <webcam/xmlrpc.h>

#include <ros/network.h>
#include <ros/ros.h>
#include <ros/xmlrpc_manager.h>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

addrinfo *Resolve(const std::string &host)
{
    addrinfo hints{}, *found = nullptr;
    hints.ai_socktype = SOCK_STREAM;
    return getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 ? found : nullptr;
}

// Whether something accepts a TCP connection at host:port within timeout.
bool Answers(const addrinfo *at, uint32_t port, int timeoutMs)
{
    sockaddr_storage address{};
    std::memcpy(&address, at->ai_addr, at->ai_addrlen);
    reinterpret_cast<sockaddr_in *>(&address)->sin_port = htons(uint16_t(port));  // the same place in sockaddr_in6
    const int fd = socket(at->ai_family, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return true;  // cannot tell: say nothing
    bool answered = connect(fd, reinterpret_cast<sockaddr *>(&address), at->ai_addrlen) == 0;
    if (!answered && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t size = sizeof error;
        answered = poll(&p, 1, timeoutMs) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    close(fd);
    return answered;
}

// Why uri cannot be reached from here, or "".
std::string Unreachable(const std::string &uri, int timeoutMs = 1000)
{
    std::string host;
    uint32_t port = 0;
    if (!ros::network::splitURI(uri, host, port))
        return "";
    addrinfo *found = Resolve(host);
    if (!found)
        return "'" + host + "' does not resolve on this host";
    const bool answers = Answers(found, port, timeoutMs);
    freeaddrinfo(found);
    return answers ? "" : "nothing answers at " + host + ":" + std::to_string(port) + " from this host";
}

// Tells the subscription to topic of the node at uri (this node's when
// empty) that its publishers are at publishers, as the master does when one
// comes or goes: links to others are dropped, links to new ones made.
void SetPublishers(const std::string &uri, const std::string &topic, const std::vector<std::string> &publishers)
{
    XmlRpcValue list, result;
    list.setSize(int(publishers.size()));
    for (size_t i = 0; i < publishers.size(); i++)
        list[int(i)] = publishers[i];
    const XmlRpcValue args = Args({ros::this_node::getName(), topic, list});
    if (uri.empty())
        CallSelf("publisherUpdate", args, result);
    else
        CallUri(uri, "publisherUpdate", args, result);
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
        if (link.getType() == XmlRpcValue::TypeArray && link.size() > 4 && std::string(link[2]) == "i" &&
            std::string(link[4]) == topic)
            uris.push_back(link[1]);
    }
    return uris;
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

void LinkCheck::publishers(const std::string &topic)
{
    const std::vector<std::string> linked = LinkedPublishers(topic);
    std::vector<std::string> listed;
    bool tell = false;
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
            tell = true;
            ROS_WARN("relay: %s publishes %s at %s, which answers, but the master has not told this node of it: "
                     "the master's host reaches this node at %s. Linked to it from here; set ROS_IP (or "
                     "ROS_HOSTNAME) on this host to an address the master's host reaches",
                     node.c_str(), topic.c_str(), uri.c_str(), ros::XMLRPCManager::instance()->getServerURI().c_str());
        }
    }
    if (tell)  // what the master would have told
        SetPublishers("", topic, listed);
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
    std::string why = Unreachable(own);
    ROS_WARN("relay: %s subscribes to %s but has not linked to it, here at %s%s%s: the master could not reach "
             "that address to tell it. Linked it from here; set ROS_IP (or ROS_HOSTNAME) on this host to an address "
             "the master's host reaches",
             nodes.front().c_str(), topic.c_str(), own.c_str(), why.empty() ? "" : ": ", why.c_str());
    // What the master would have told each of them: all of the topic's
    // publishers.
    std::vector<std::string> publishers;
    for (const std::string &node : ListedNodes(topic, Role::Publisher)) {
        const std::string uri = UriOf(node);
        if (!uri.empty())
            publishers.push_back(uri);
    }
    for (const std::string &node : nodes) {
        const std::string uri = UriOf(node);
        if (!uri.empty())
            SetPublishers(uri, topic, publishers);
    }
}

bool Relink::check(const std::string &topic, bool quiet, double now)
{
    if (!quiet) {
        lost_ = false;
        return false;
    }
    // While a cut link is quiet, TCP still holds it: it is listed yet.
    const std::vector<std::string> linked = LinkedPublishers(topic);
    if (!linked.empty())
        uris_ = linked;
    std::vector<std::string> answering;
    for (const std::string &uri : uris_)
        if (Unreachable(uri, kProbeMs).empty())
            answering.push_back(uri);
        else
            lost_ = true;
    // Back after a cut; or linked anew, and that link failed on the way.
    const bool again = lost_ || (linked.empty() && now - relinked_ > kRetry);
    if (answering.empty() || !again)
        return false;
    lost_ = false;
    relinked_ = now;
    SetPublishers("", topic, {});
    SetPublishers("", topic, answering);
    return true;
}

}  // namespace webcam
