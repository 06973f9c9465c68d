#include <webcam/Orlin.h>

#include <csignal>

namespace {

// A plain kill ends the viewer as cleanly as Ctrl-C does.
void RequestShutdown(int)
{
    ros::requestShutdown();
}

}  // namespace

int main(int argc, char **argv)
{
    ros::init(argc, argv, "camera_viewer");
    std::signal(SIGTERM, RequestShutdown);
    ros::NodeHandle node;
    {
        Orlin viewer;
        ros::spin();
    }
    return 0;
}
