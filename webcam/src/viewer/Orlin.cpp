// Where the viewer is wired up: services, subscription, window upkeep.

#include "viewer/Orlin.h"
#include "viewer/window.h"

#include <webcam/equalize_core.h>

#include <opencv2/highgui.hpp>

#include <cstdio>

namespace {

constexpr uint32_t kImageQueue = 2;  // a slow display never lags more than two frames
constexpr double kWindowPumpPeriod = 0.03;

}  // namespace

Orlin::Orlin() : Orlin(ros::NodeHandle(), Frames::Owned) {}

Orlin::Orlin(ros::NodeHandle nh, Frames frames)
    : showing(false),
      useHistogramEqualization(false),
      resized(kCanvasHeight, kCanvasWidth, CV_8UC3, cv::Scalar::all(0)),
      frames_(frames),
      nh_(nh)
{
    canvas_.setRowMap([](const uint8_t *in, uint8_t *out, int pixels, const webcam::CanvasLut &curves) {
        webcam::EqualizeRemap(in, out, pixels, curves);
    });
    // Everything, window work included, runs on one thread (the node's
    // ros::spin, or in a nodelet manager the process's GUI thread serving
    // nh's queue), which is what Qt's HighGUI requires; each service so
    // serves one request at a time.
    services_.push_back(nh_.advertiseService("webcam_help", &Orlin::help, this));
    services_.push_back(nh_.advertiseService("webcam_dump", &Orlin::dump, this));
    services_.push_back(nh_.advertiseService("webcam_dumpstop", &Orlin::dumpstop, this));
    services_.push_back(nh_.advertiseService("webcam_play", &Orlin::play, this));
    services_.push_back(nh_.advertiseService("webcam_playstop", &Orlin::playstop, this));
    services_.push_back(nh_.advertiseService("webcam_show", &Orlin::show, this));
    services_.push_back(nh_.advertiseService("webcam_hide", &Orlin::hide, this));
    services_.push_back(nh_.advertiseService("webcam_info", &Orlin::info, this));
    services_.push_back(nh_.advertiseService("webcam_set", &Orlin::set, this));
    // A const subscriber, or roscpp would copy every shared message for it.
    imageSub_ = frames_ == Frames::Owned ? nh_.subscribe("image", kImageQueue, &Orlin::image_cb, this)
                                         : nh_.subscribe("image", kImageQueue, &Orlin::shared_image_cb, this);
    windowTimer_ = nh_.createWallTimer(ros::WallDuration(kWindowPumpPeriod), &Orlin::pumpWindow, this);
}

Orlin::~Orlin()
{
#ifdef WEBCAM_COUNT_FRAMES
    std::fprintf(stderr, "camera_viewer: %lu frame callbacks\n", frameCallbacks_);
#endif
}

std::vector<std::string> Orlin::serviceNames() const
{
    std::vector<std::string> names;
    for (const ros::ServiceServer &service : services_)
        names.push_back(service.getService());
    return names;
}

// The one place that makes the window: exactly the 640 x 480 canvas, with
// no toolbar or status bar (Qt adds both unless asked for the normal GUI).
void Orlin::openWindow()
{
    cv::namedWindow(kWindowName, cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
}

// Keeps a shown window repainting, moving and closing between frames; a
// steady stream's own frames do that already.
void Orlin::pumpWindow(const ros::WallTimerEvent &)
{
    const ros::WallTime now = ros::WallTime::now();
    if (!showing || now - pumped_ < ros::WallDuration(kWindowPumpPeriod))
        return;
    cv::waitKey(1);
    pumped_ = now;
}
