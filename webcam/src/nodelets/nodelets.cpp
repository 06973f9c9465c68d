#include "nodelets/nodelets.h"

#include "nodelets/gui_thread.h"
#include "process/process.h"

#include <nodelet/exception.h>

#include <algorithm>
#include <atomic>

namespace webcam {

namespace {

std::atomic<bool> gViewerLoaded{false};

}  // namespace

void ViewerNodelet::onInit()
{
    if (gViewerLoaded.exchange(true)) {
        const std::string why = "cannot load the viewer " + getName() +
                                ": this process shows a camera_window already (one viewer per process; unload the "
                                "other first)";
        ROS_ERROR("%s", why.c_str());
        throw nodelet::Exception(why);
    }
    ros::NodeHandle nh(getNodeHandle());
    nh.setCallbackQueue(&queue_);
    try {
        OnGuiThread([&] { viewer_.reset(new Orlin(nh, Orlin::Frames::Shared)); });
    } catch (...) {
        gViewerLoaded = false;
        throw;
    }
    watch_.reset(new MasterWatch(viewer_->serviceNames()));
    ServeOnGuiThread(&queue_);
}

ViewerNodelet::~ViewerNodelet()
{
    if (!viewer_)
        return;
    watch_.reset();
    ServeOnGuiThread(nullptr);
    OnGuiThread([this] {
        webcam::hide::Request req;
        webcam::hide::Response res;
        viewer_->hide(req, res);  // the window goes with the viewer
        viewer_.reset();
    });
    gViewerLoaded = false;
}

void SourceNodelet::onInit()
{
    const nodelet::V_string &argv = getMyArgv();
    const bool required = std::find(argv.begin(), argv.end(), "--required") != argv.end();
    ImageSource::Hooks hooks;
    hooks.failed = [required](int status) {
        if (required)
            EndProcess(status);
    };
    hooks.done = [] {};
    source_.reset(new ImageSource(getNodeHandle(), getPrivateNodeHandle(), hooks));
    watch_.reset(new MasterWatch({}));
}

boost::shared_ptr<nodelet::Nodelet> MakeNodelet(const std::string &type)
{
    if (type == "webcam/viewer")
        return boost::make_shared<ViewerNodelet>();
    if (type == "webcam/image_source")
        return boost::make_shared<SourceNodelet>();
    return nullptr;
}

}  // namespace webcam
