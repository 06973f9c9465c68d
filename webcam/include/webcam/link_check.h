// Why frames do not flow although the master lists both ends of a topic:
// each node is reached at the address it announces (ROS_IP or
// ROS_HOSTNAME, else its host name), and where that name does not resolve,
// or nothing answers there, roscpp says nothing. Called every few seconds
// while a link is missing, this says on the console, once per address,
// which one cannot be reached from here and what fixes it.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace webcam {

// The nodes the master lists as publishing or subscribing to topic.
enum class Role { Publisher, Subscriber };
std::vector<std::string> ListedNodes(const std::string &topic, Role role);

class LinkCheck {
public:
    // connected: the publishers the subscription to topic has links to.
    void publishers(const std::string &topic, uint32_t connected);
    // connected: the subscribers linked to this node's publication of topic.
    void subscribers(const std::string &topic, uint32_t connected);

private:
    std::set<std::string> said_;
};

}  // namespace webcam
