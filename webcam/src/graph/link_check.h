// Why frames do not flow although the master lists both ends of a topic:
// each node is reached at the address it announces (ROS_IP or
// ROS_HOSTNAME, else its host name), and where that name does not resolve,
// or nothing answers there, roscpp says nothing. Called every few seconds
// while a link is missing, this says on the console, once per address,
// which one cannot be reached from here and what fixes it. A publisher that
// answers but that the master never told this node of (the master cannot
// reach this node) is linked to from here.
//
// Every call here has a deadline (xmlrpc.h): call it from a thread of its
// own, never from one that carries frames.
#pragma once

#include <cstdint>
#include <set>
#include <string>

namespace webcam {

class LinkCheck {
public:
    // The publishers of topic the master lists and this node has no link
    // to. Asks the master: call it while frames do not come.
    void publishers(const std::string &topic);
    // connected: the subscribers linked to this node's publication of topic.
    void subscribers(const std::string &topic, uint32_t connected);

private:
    std::set<std::string> said_;     // addresses said once
    std::set<std::string> pending_;  // publishers that answered while no link came
};

}  // namespace webcam
