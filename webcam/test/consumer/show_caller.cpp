// Calls webcam_show as an outside node would, with the installed service
// record, and builds a frame with the installed bridge on the way.
#include <image_msgs/CvBridge.h>
#include <ros/ros.h>
#include <webcam/show.h>

#include <cstdio>

int main(int argc, char **argv) {
  ros::init(argc, argv, "show_caller", ros::init_options::AnonymousName);
  ros::NodeHandle node;
  image_msgs::Image frame = image_msgs::ToImage(cv::Mat(2, 3, CV_8UC3, cv::Scalar(1, 2, 3)), "bgr");
  webcam::show::Request request;
  webcam::show::Response response;
  if (frame.uint8_data.layout.dim.size() != 3 || !ros::service::call("webcam_show", request, response)) {
    std::fprintf(stderr, "show_caller: webcam_show could not be called\n");
    return 1;
  }
  std::fprintf(stderr, "show_caller: ok %d\n", response.ok);
  return response.ok == 1 ? 0 : 1;
}
