// Keeps a node known to the ROS master through the master's restarts and
// takes it off the master's books when the process ends without roscpp's
// own shutdown.
//
// roscpp registers a node once, at start. A master that is restarted on
// the same URI knows nothing of it: its services and topics are gone from
// the graph for good, though live connections still work. WatchMaster asks
// the master about the node once a second and, when the master does not
// know it, registers the node's existing URI again: every service, every
// publication and every subscription, the latter with the publishers the
// new master knows of.
//
// When the master has the node's name on another URI, a newer node took
// the name: this one shuts down, as is the ROS convention.
//
// A library may end the process with exit() (Qt does when its X
// connection breaks); roscpp's own exit handler then skips unregistering.
// WatchMaster installs one that does it.
#pragma once

#include <string>
#include <vector>

namespace webcam {

// services: the resolved names of the services this node serves. Call
// once the node has advertised and subscribed what it will; a later call
// replaces the list.
void WatchMaster(const std::vector<std::string> &services);

// Stops the watch, before the node shuts down.
void StopWatchingMaster();

}  // namespace webcam
