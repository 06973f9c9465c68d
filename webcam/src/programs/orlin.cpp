#include "graph/master_watch.h"
#include "viewer/Orlin.h"
#include "process/process.h"

#include <opencv2/core/utility.hpp>

int main(int argc, char **argv)
{
    webcam::KeepFramesOnHeap();
    // A 640 x 480 resize is too small to share out: OpenCV's worker threads
    // would cost more CPU than they save.
    cv::setNumThreads(1);
    ros::init(argc, argv, "camera_viewer", ros::init_options::NoSigintHandler);
    webcam::EndOnSignals();
    ros::NodeHandle node;
    {
        Orlin viewer;
        webcam::MasterWatch watch(viewer.serviceNames());  // registers again with a restarted master
        ros::spin();
    }
    return 0;
}
