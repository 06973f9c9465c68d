// The viewer and image_source as nodelets, for a manager in which the relay
// hands each frame to the viewer without serializing it: webcam/viewer and
// webcam/image_source.
#pragma once

#include "graph/master_watch.h"
#include "viewer/Orlin.h"
#include "source/source.h"

#include <nodelet/nodelet.h>
#include <ros/callback_queue.h>

#include <memory>

namespace webcam {

// The viewer, built from the same Orlin as the orlin program: services and
// the "image" subscription in the namespace above the nodelet's name (a
// nodelet named /rear/camera_viewer serves /rear/webcam_show). Its
// callbacks run from a queue of its own on the process's GUI thread. A
// process has one "camera_window": a second viewer is refused until the
// first is unloaded.
class ViewerNodelet : public nodelet::Nodelet {
public:
    ~ViewerNodelet() override;

private:
    void onInit() override;

    ros::CallbackQueue queue_;
    std::unique_ptr<Orlin> viewer_;
    std::unique_ptr<MasterWatch> watch_;  // registers again with a restarted master
};

// Any of image_source's sources, parameters under the nodelet's name. With
// the argument --required a source that cannot go on ends the process with
// its status, as the program would end; without it, it says so and stops.
class SourceNodelet : public nodelet::Nodelet {
private:
    void onInit() override;

    std::unique_ptr<ImageSource> source_;
    std::unique_ptr<MasterWatch> watch_;
};

// One of the two by its nodelet type name, or null.
boost::shared_ptr<nodelet::Nodelet> MakeNodelet(const std::string &type);

}  // namespace webcam
