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
// The watch installs one that does it.
#pragma once

#include <string>
#include <vector>

namespace webcam {

// While it lives, keeps the node known to a restarted master, with the
// services named here (the resolved names of those its owner serves) among
// everything it registers again. The programs keep one, and so does every
// nodelet that registers something (the viewer, a source: nodelets in one
// manager); the process has one watch, which serves the union of their
// services and stops with the last of them. Make it once the owner has
// advertised what it will (topics subscribed later are found all the same).
class MasterWatch {
public:
    explicit MasterWatch(std::vector<std::string> services);
    ~MasterWatch();
    MasterWatch(const MasterWatch &) = delete;
    MasterWatch &operator=(const MasterWatch &) = delete;
};

}  // namespace webcam
