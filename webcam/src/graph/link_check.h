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
#include <vector>

namespace webcam {

// The nodes the master lists as publishing or subscribing to topic.
enum class Role { Publisher, Subscriber };
std::vector<std::string> ListedNodes(const std::string &topic, Role role);

// The type of topic as its publishers announced it, or "" (none yet, or
// no master).
std::string PublishedType(const std::string &topic);

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
// again, drops that link and makes a new one at once; links to the other
// publishers stay, whether they answer or not. Its probes go only to the
// addresses the publishers announced, four times a second at first and
// once a second once a quiet stream's publishers have answered for a while
// (a camera idle on purpose).
class Relink {
public:
    static constexpr int kProbeMs = 200;
    static constexpr double kRetry = 3.0;  // s between tries while no link comes

    struct Outcome {
        bool cut = false;                   // a probe failed, or a link was made anew
        std::vector<std::string> relinked;  // the publishers linked anew
        std::string failed;                 // why linking anew failed
    };

    // Called a few times a second with whether the stream is quiet (now:
    // this host's monotonic clock, s).
    Outcome check(const std::string &topic, bool quiet, double now);

private:
    std::set<std::string> known_;  // linked in this quiet spell
    std::set<std::string> lost_;   // of them, failed a probe in it
    double quietSince_ = -1, nextProbe_ = 0, relinked_ = -1e9;
};

}  // namespace webcam
