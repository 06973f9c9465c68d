// What the ROS graph says of a topic, and this node's links to it: the
// master's lists, a node's URI, the links roscpp holds, a publisherUpdate.
// Every call has a deadline (xmlrpc.h): call them from a thread of their
// own, never from one that carries frames.
#pragma once

#include <string>
#include <vector>

namespace webcam {

// The nodes the master lists as publishing or subscribing to topic.
enum class Role { Publisher, Subscriber };
std::vector<std::string> ListedNodes(const std::string &topic, Role role);

// The type of topic as its publishers announced it, or "" (none yet, or
// no master).
std::string PublishedType(const std::string &topic);

// The URI of node as the master has it, or "".
std::string UriOf(const std::string &node);

// Why uri cannot be reached from here within timeoutMs, or "".
std::string Unreachable(const std::string &uri, int timeoutMs = 1000);

// Tells the subscription to topic of the node at uri (this node's when
// empty) that its publishers are at publishers, as the master does when one
// comes or goes: links to others are dropped, links to new ones made.
// Returns "" once it answered, else what failed.
std::string SetPublishers(const std::string &uri, const std::string &topic, const std::vector<std::string> &publishers);

// The publishers' URIs the subscription to topic has links to, from
// roscpp's own list (the master is not asked: it may be on the host that
// is cut off).
std::vector<std::string> LinkedPublishers(const std::string &topic);

}  // namespace webcam
