// The program image_source: the node of that name with one source (see
// source/source.h for its parameters).
#include "graph/master_watch.h"
#include "process/process.h"
#include "source/source.h"

#include <opencv2/core/utility.hpp>

#include <cstdio>

int main(int argc, char **argv)
{
    webcam::KeepFramesOnHeap();
    setvbuf(stdout, nullptr, _IOLBF, 0);  // roscpp's INFO lines reach a log or a pipe as they come
    cv::setNumThreads(1);  // a frame's conversion is too small to share out: threads cost more CPU
    ros::init(argc, argv, "image_source", ros::init_options::NoSigintHandler);
    webcam::EndOnSignals();
    ros::NodeHandle nh, pnh("~");
    int sent = 0;
    {
        webcam::ImageSource source(nh, pnh, {webcam::EndProcess, [] { webcam::EndProcess(0); }});
        webcam::MasterWatch watch({});  // registers again with a restarted master
        ros::spin();
        sent = source.sent();
    }
    // After Ctrl-C roscpp's console is shut down: say it plainly.
    std::fprintf(stderr, "image_source: %d frames sent\n", sent);
    return webcam::ExitStatus();
}
