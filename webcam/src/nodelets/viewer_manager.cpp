// viewer_manager: the nodelet manager viewer.launch starts as the node
// camera_viewer. It loads the viewer under the node's own name, so that
// the node, its "image" subscription and its nine services look as the
// orlin program's do, and each nodelet type named on the command line
// (webcam/image_source) under its short name beside it:
//   viewer_manager [webcam/image_source] [ROS remappings]
// Frames go from the relay to the viewer inside the process, unserialized.
// stdout carries the viewer's progress characters only.
#include "nodelets/nodelets.h"
#include "process/process.h"

#include <nodelet/loader.h>
#include <opencv2/core/utility.hpp>

int main(int argc, char **argv)
{
    webcam::KeepFramesOnHeap();
    cv::setNumThreads(1);  // the viewer's resize is too small to share out
    ros::init(argc, argv, "camera_viewer", ros::init_options::NoSigintHandler);
    webcam::EndOnSignals();
    webcam::ConsoleOffStdout();
    std::vector<std::string> args;
    ros::removeROSArgs(argc, argv, args);
    int status = 0;
    {
        // Our own nodelets, linked in: no plugin search, and no load
        // services (the stock manager is there for loading others).
        nodelet::Loader loader(boost::function<boost::shared_ptr<nodelet::Nodelet>(const std::string &)>(
            &webcam::MakeNodelet));
        if (!loader.load(ros::this_node::getName(), "webcam/viewer", {}, {})) {
            std::fprintf(stderr, "viewer_manager: cannot load the viewer\n");
            return 1;
        }
        for (size_t i = 1; i < args.size(); i++) {
            const std::string &type = args[i];
            const std::string name = ros::names::append(ros::this_node::getNamespace(), type.substr(type.find('/') + 1));
            if (!loader.load(name, type, {}, {"--required"})) {  // the factory knows no other types
                ROS_FATAL("viewer_manager: cannot load %s (it loads webcam/viewer and webcam/image_source)",
                          type.c_str());
                webcam::EndProcess(2);
                break;
            }
        }
        ros::spin();
        status = webcam::ExitStatus();
    }
    return status;
}
