// Why frames do not flow although the master lists both ends of a topic:
// each node is reached at the address it announces (ROS_IP or
// ROS_HOSTNAME, else its host name), and where that name does not resolve,
// or nothing answers there, roscpp says nothing. Called every few seconds
// while a link is missing, this says on the console, once per address,
// which one cannot be reached from here and what fixes it. A publisher that
// answers but that the master never told this node of (the master cannot
// reach this node) is linked to from here.
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
    // The publishers of topic the master lists and this node has no link
    // to. Asks the master: call it while frames do not come.
    void publishers(const std::string &topic);
    // connected: the subscribers linked to this node's publication of topic.
    void subscribers(const std::string &topic, uint32_t connected);

private:
    std::set<std::string> said_;     // addresses said once
    std::set<std::string> pending_;  // publishers that answered while no link came
};

// A subscription gone quiet while its publishers are still linked: TCP
// retries a cut link with a backoff that doubles up to two minutes, and
// then first delivers what it held. Relink probes the publishers' hosts
// while the stream is quiet, and once a host that stopped answering answers
// again, drops the old link and makes a new one at once. Its probes go
// only to the addresses the publishers announced.
class Relink {
public:
    static constexpr int kProbeMs = 200;
    static constexpr double kRetry = 3.0;  // s between tries while no link comes

    // Called a few times a second with whether the stream is quiet (now:
    // this host's clock, s); returns true when it linked anew.
    bool check(const std::string &topic, bool quiet, double now);

private:
    std::vector<std::string> uris_;  // last linked
    bool lost_ = false;              // a probe failed since the stream went quiet
    double relinked_ = 0;
};

}  // namespace webcam
