#include <webcam/Orlin.h>

#include <opencv2/core/utility.hpp>

#include <csignal>

#include <malloc.h>

namespace {

// A plain kill ends the viewer as cleanly as Ctrl-C does.
void RequestShutdown(int)
{
    ros::requestShutdown();
}

}  // namespace

int main(int argc, char **argv)
{
    // Frames are megabytes: glibc would map every message's buffers afresh
    // and fault each page in again (a 1080p frame is two such buffers, some
    // 3000 faults). Keep blocks up to 32 MiB (a 4K colour frame) on the
    // heap for reuse, and the heap's top where it is.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    // A 640 x 480 resize is too small to share out: OpenCV's worker threads
    // would cost more CPU than they save.
    cv::setNumThreads(1);
    ros::init(argc, argv, "camera_viewer");
    std::signal(SIGTERM, RequestShutdown);
    ros::NodeHandle node;
    {
        Orlin viewer;
        ros::spin();
    }
    return 0;
}
